// Writes the bundle's Turtle, manifest.ttl and fourwave.ttl (both plug-ins), from the port
// table the wrapper is compiled with (ports.h), so that the description and the binary always
// agree.
//
//   fourwave_make_ttl BUNDLE_DIR BINARY_FILE MINOR_VERSION MICRO_VERSION
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ports.h"

using namespace fourwave;
using namespace fourwave::lv2;

namespace {

// A decimal literal ("5.0", "-0.5"): Turtle reads it as xsd:decimal.
std::string decimal(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string result = text;
    if (result.find_first_of(".e") == std::string::npos) result += ".0";
    return result;
}

std::string quoted(const char *text) { return std::string("\"") + text + "\""; }

std::string groupUri(int group) {
    return std::string("<") + kBundleUri + "#" + kGroups[group].symbol + ">";
}

void beginPort(std::ostream &out, bool first, const char *types, int index, const char *symbol,
               const std::string &name) {
    out << (first ? "\tlv2:port [\n" : " , [\n");
    out << "\t\ta " << types << " ;\n";
    out << "\t\tlv2:index " << index << " ;\n";
    out << "\t\tlv2:symbol " << quoted(symbol) << " ;\n";
    out << "\t\tlv2:name " << quoted(name.c_str()) << " ;\n";
}

void writePrefixes(std::ostream &out) {
    out << "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
           "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
           "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
           "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
           "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
           "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
           "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
           "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
           "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";
}

// What both plug-ins share: the port groups, the volt, the project.
void writeShared(std::ostream &out) {
    for (const PortGroup &group : kGroups) {
        const char *types = group.kind == GroupKind::Input    ? "pg:InputGroup"
                            : group.kind == GroupKind::Output ? "pg:OutputGroup"
                                                              : "pg:StereoGroup , pg:OutputGroup";
        out << "<" << kBundleUri << "#" << group.symbol << ">\n\ta " << types << " ;\n\tlv2:symbol "
            << quoted(group.symbol) << " ;\n\trdfs:label " << quoted(group.label) << " .\n\n";
    }

    // LV2's unit vocabulary has no volt: the plug-ins name their own.
    out << "<" << kBundleUri
        << "#volt>\n\ta units:Unit ;\n\trdfs:label \"volt\" ;\n"
           "\tunits:symbol \"V\" ;\n\tunits:render \"%f V\" .\n\n";

    // The project, as the plug-ins' maker.
    out << "<" << kBundleUri
        << "#project>\n"
           "\ta doap:Project ;\n"
           "\tdoap:name \"Fourwave\" ;\n"
           "\tdoap:homepage <https://tovik.example> ;\n"
           "\tdoap:license <http://opensource.org/licenses/MIT> ;\n"
           "\tdoap:maintainer [\n"
           "\t\ta foaf:Person ;\n"
           "\t\tfoaf:name \"The Fourwave project, the Tovik developers\" ;\n"
           "\t\tfoaf:homepage <https://tovik.example> ;\n"
           "\t\tfoaf:mbox <mailto:info@tovik.example>\n"
           "\t] .\n\n";
}

constexpr const char *kInstrumentComment =
    "A four-waveform oscillator played from MIDI: one phase drives Ramp, Saw, Pulse (variable "
    "width) and Triangle, each with its own level, with hard and soft sync, audio-rate "
    "frequency and phase modulation, and five shapes. Mono, last-note priority: a held note "
    "opens the gate, and Pitch is the pitch of note 69 (A4), 5 V = 440 Hz. The main output, "
    "left and right alike, is the sum of the four waveforms, faded in and out over 5 ms at "
    "each start and end; the four waveforms also come out on their own, sample for sample the "
    "Tovik Fourwave module's.";
constexpr const char *kModularComment =
    "A four-waveform oscillator for modular hosts: one phase drives Ramp, Saw, Pulse "
    "(variable width) and Triangle outputs, each with its own level, with hard and soft sync, "
    "audio-rate frequency and phase modulation, and five shapes. The same module as the Tovik "
    "Fourwave plug-in library, sample for sample. Every input is a control in volts and a CV "
    "input on the module's scale (1.0 = 10 V) that adds to its control, so an unpatched CV "
    "input leaves the control as it is: to drive an input from CV alone, such as a gate on "
    "Active, set its control to 0 V.";

void writePlugin(std::ostream &out, const PluginInfo &plugin, const std::string &minor,
                 const std::string &micro) {
    out << "<" << plugin.uri << ">\n"
        << "\ta lv2:Plugin , "
        << (plugin.instrument ? "lv2:InstrumentPlugin" : "lv2:OscillatorPlugin")
        << " ;\n\tlv2:project <" << kBundleUri << "#project> ;\n"
        << "\tdoap:name " << quoted(plugin.name) << " ;\n"
        << "\trdfs:comment " << quoted(plugin.instrument ? kInstrumentComment : kModularComment)
        << " ;\n\tdoap:license <http://opensource.org/licenses/MIT> ;\n"
        << "\tlv2:minorVersion " << minor << " ;\n"
        << "\tlv2:microVersion " << micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , opts:options , urid:map ;\n"
           "\topts:supportedOption bufsz:nominalBlockLength , bufsz:maxBlockLength ;\n";
    if (plugin.instrument) out << "\tpg:mainOutput " << groupUri(kMainGroup) << " ;\n";

    int index = 0;
    for (const Plug plug : kSettings) {
        const PlugInfo &setting = plugInfo(plug);
        beginPort(out, index == 0, "lv2:InputPort , lv2:ControlPort", index,
                  portSymbol(plug).c_str(), portName(plug));
        out << "\t\tlv2:default " << defaultChoice(plug) << " ;\n"
            << "\t\tlv2:minimum 0 ;\n"
            << "\t\tlv2:maximum " << setting.choiceCount - 1 << " ;\n"
            << "\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n"
            << "\t\tpg:group " << groupUri(kSettingsGroup) << " ;\n"
            << "\t\trdfs:comment " << quoted(setting.help) << " ;\n"
            << "\t\tlv2:scalePoint ";
        for (int c = 0; c < setting.choiceCount; ++c)
            out << (c ? " , " : "") << "[\n\t\t\trdfs:label " << quoted(setting.choices[c].label)
                << " ;\n\t\t\trdf:value " << c << "\n\t\t]";
        out << "\n\t]";
        ++index;
    }
    for (const Plug plug : kInputs) {
        const PlugInfo &input = plugInfo(plug);
        beginPort(out, false, "lv2:InputPort , lv2:ControlPort", index, portSymbol(plug).c_str(),
                  portName(plug));
        out << "\t\tlv2:default " << decimal(defaultVolts(plugin, plug)) << " ;\n"
            << "\t\tlv2:minimum " << decimal(input.minimum) << " ;\n"
            << "\t\tlv2:maximum " << decimal(input.maximum) << " ;\n"
            << "\t\tunits:unit <" << kBundleUri << "#volt> ;\n"
            << "\t\tpg:group " << groupUri(groupOf(plug)) << " ;\n"
            << "\t\trdfs:comment " << quoted(commentOf(plugin, plug)) << "\n\t]";
        ++index;
    }
    if (plugin.instrument) {
        beginPort(out, false, "lv2:InputPort , lv2:ControlPort", index++, kBendRange.symbol,
                  kBendRange.name);
        out << "\t\tlv2:default " << decimal(kBendRange.defaultValue) << " ;\n"
            << "\t\tlv2:minimum " << decimal(kBendRange.minimum) << " ;\n"
            << "\t\tlv2:maximum " << decimal(kBendRange.maximum) << " ;\n"
            << "\t\tlv2:portProperty lv2:integer ;\n"
            << "\t\tunits:unit units:semitone12TET ;\n"
            << "\t\tpg:group " << groupUri(kNotesGroup) << " ;\n"
            << "\t\trdfs:comment " << quoted(kBendRange.comment) << "\n\t]";
        beginPort(out, false, "lv2:InputPort , atom:AtomPort", index++, "midi_in", "MIDI In");
        out << "\t\tatom:bufferType atom:Sequence ;\n"
            << "\t\tatom:supports midi:MidiEvent ;\n"
            << "\t\tlv2:designation lv2:control ;\n"
            << "\t\tpg:group " << groupUri(kNotesGroup) << " ;\n"
            << "\t\trdfs:comment \"Notes (mono, the last held sounds), pitch bend, all notes off "
               "and all sound off, on every channel\"\n\t]";
        const char *designations[] = {"pg:left", "pg:right"};
        for (int side = 0; side < 2; ++side) {
            beginPort(out, false, "lv2:OutputPort , lv2:AudioPort", index++,
                      kMainOutputs[side].symbol, kMainOutputs[side].name);
            out << "\t\tlv2:designation " << designations[side] << " ;\n"
                << "\t\tpg:group " << groupUri(kMainGroup) << " ;\n"
                << "\t\trdfs:comment \"The sum of the four waveforms at their levels, faded in "
                   "and out over 5 ms at each start and end; left and right alike\"\n\t]";
        }
    } else {
        for (const Plug plug : kInputs) {
            const PlugInfo &input = plugInfo(plug);
            beginPort(out, false, "lv2:InputPort , lv2:CVPort", index++,
                      (portSymbol(plug) + "_cv").c_str(), std::string(portName(plug)) + " CV");
            out << "\t\tlv2:minimum " << decimal(plugValueOfVolts(input.minimum)) << " ;\n"
                << "\t\tlv2:maximum " << decimal(plugValueOfVolts(input.maximum)) << " ;\n"
                << "\t\tlv2:portProperty lv2:connectionOptional ;\n"
                << "\t\tpg:group " << groupUri(kCvGroup) << " ;\n"
                << "\t\trdfs:comment \"" << portName(plug)
                << " at audio rate, 1.0 = 10 V: added to the control\"\n\t]";
        }
    }
    for (const Plug plug : kOutputs) {
        beginPort(out, false, "lv2:OutputPort , lv2:AudioPort", index++, portSymbol(plug).c_str(),
                  portName(plug));
        out << "\t\tpg:group " << groupUri(kOutputsGroup) << " ;\n"
            << "\t\trdfs:comment \"" << plugInfo(plug).help
            << "; 1.0 = 10 V: at a level of 5 V it swings between -0.25 and 0.25, at 10 V "
               "between -0.5 and 0.5\"\n\t]";
    }
    out << " .\n\n";
}

bool writeFile(const std::string &path, const std::string &text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) std::fprintf(stderr, "fourwave_make_ttl: cannot write %s\n", path.c_str());
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: fourwave_make_ttl BUNDLE_DIR BINARY_FILE MINOR MICRO\n");
        return 2;
    }
    const std::string bundle = argv[1];
    std::ostringstream manifest, plugins;
    manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    writePrefixes(plugins);
    writeShared(plugins);
    for (const PluginInfo *plugin : kPlugins) {
        manifest << "\n<" << plugin->uri << ">\n\ta lv2:Plugin ;\n\tlv2:binary <" << argv[2]
                 << "> ;\n\trdfs:seeAlso <fourwave.ttl> .\n";
        writePlugin(plugins, *plugin, argv[3], argv[4]);
    }
    return writeFile(bundle + "/manifest.ttl", manifest.str()) &&
                   writeFile(bundle + "/fourwave.ttl", plugins.str())
               ? 0
               : 1;
}
