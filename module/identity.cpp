// The module's identity texts, as getModuleProperties hands them out. The SSE build appends
// " SSE" to the name and to the version line; everything else is the same in both builds.
#include "module.h"

#if defined(FOURWAVE_FLAVOUR_SSE)
#define FOURWAVE_FLAVOUR_SUFFIX " SSE"
#elif defined(FOURWAVE_FLAVOUR_X87)
#define FOURWAVE_FLAVOUR_SUFFIX ""
#else
#error "define FOURWAVE_FLAVOUR_SSE or FOURWAVE_FLAVOUR_X87"
#endif
// MAJOR.MINOR from the repository's VERSION file, passed by CMake.
#ifndef FOURWAVE_VERSION_TEXT
#error "define FOURWAVE_VERSION_TEXT (the build reads it from VERSION)"
#endif

namespace {

const char kName[] = "Tovik Fourwave" FOURWAVE_FLAVOUR_SUFFIX;

const char kDescription[] = "Tovik Fourwave" FOURWAVE_FLAVOUR_SUFFIX
                            " - from https://tovik.example, by the Tovik developers";

// Lines separated by a single line feed, none after the last.
const char kAbout[] =
    "Tovik Fourwave v" FOURWAVE_VERSION_TEXT FOURWAVE_FLAVOUR_SUFFIX "\n"
    "Copyright Tovik; written by the Tovik developers\n"
    "Based on Fourwave module V1.1\n"
    "Published by Tovik\n"
    "All rights reserved.\n"
    "https://tovik.example\n"
    "info@tovik.example\n"
    "\n"
    "Pitch: Volts\n"
    "Width: 0-10V\n"
    "Levels: -10-10V\n"
    "Sync: Audio\n"
    "Phase: 0-10V\n"
    "Phase Mod: 0-10V\n"
    "Levels: -10 - 10V\n"
    "Synth Threshold: 0-10V (0V = Hard Sync, 2-8V = Soft Sync, 10V = No Sync) \n"
    "Sync Advance (Jitter correction when synced as slave): -20-20V (typical: 0, 5, 10, 20)\n"
    "Active: 0v = Off (Connect to ADSR)\n"
    "Shape: Dark, Medium, Bright, Perfect, Perfect 2\n"
    "\n"
    "Freq Scale: 1V/8ve or 1V/KHz\n"
    "FM: Disable (default), Enable (audio rate modulation), Half (half audio rate)\n"
    "Phase Mod: Disable (default), Enable\n"
    "\n"
    "Amplitude modulation of levels are performed at the audio rate/16\n"
    "except for \"Perfect 2\" which uses audio rate.\n"
    "\n"
    "\"Perfect\" shape is not suitable for audio-path use: it can generate sharp peaks that may "
    "cause damage at high level.";

} // namespace

bool Module::fillProperties(ModuleProperties *properties) {
    properties->name = kName;
    properties->description = kDescription;
    properties->about = kAbout;
    return true;
}
