// Writes the bundle's Turtle, manifest.ttl and fourwave.ttl, from the port table the wrapper
// is compiled with (ports.h), so that the description and the binary always agree.
//
//   fourwave_make_ttl BUNDLE_DIR BINARY_FILE MINOR_VERSION MICRO_VERSION
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ports.h"

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
    return std::string("<") + kPluginUri + "#" + kGroups[group].symbol + ">";
}

void beginPort(std::ostream &out, bool first, const char *types, int index, const char *symbol,
               const std::string &name) {
    out << (first ? "\tlv2:port [\n" : " , [\n");
    out << "\t\ta " << types << " ;\n";
    out << "\t\tlv2:index " << index << " ;\n";
    out << "\t\tlv2:symbol " << quoted(symbol) << " ;\n";
    out << "\t\tlv2:name " << quoted(name.c_str()) << " ;\n";
}

void writePlugin(std::ostream &out, const std::string &minor, const std::string &micro) {
    out << "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
           "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
           "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
           "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
           "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
           "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
           "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

    for (int g = 0; g < static_cast<int>(std::size(kGroups)); ++g)
        out << groupUri(g) << "\n\ta " << (kGroups[g].output ? "pg:OutputGroup" : "pg:InputGroup")
            << " ;\n\tlv2:symbol " << quoted(kGroups[g].symbol) << " ;\n\trdfs:label "
            << quoted(kGroups[g].label) << " .\n\n";

    // LV2's unit vocabulary has no volt: the plug-in names its own.
    out << "<" << kPluginUri
        << "#volt>\n\ta units:Unit ;\n\trdfs:label \"volt\" ;\n"
           "\tunits:symbol \"V\" ;\n\tunits:render \"%f V\" .\n\n";

    // The project, as the plug-in's maker.
    out << "<" << kPluginUri
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

    out << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin , lv2:OscillatorPlugin ;\n"
           "\tlv2:project <"
        << kPluginUri
        << "#project> ;\n"
           "\tdoap:name \"Tovik Fourwave\" ;\n"
           "\trdfs:comment \"A four-waveform oscillator: one phase drives Ramp, Saw, Pulse "
           "(variable width) and Triangle outputs, each with its own level, with hard and soft "
           "sync, audio-rate frequency and phase modulation, and five shapes. The same module "
           "as the Tovik Fourwave plug-in library, sample for sample. Every input is a control "
           "in volts and, for modular hosts, an optional CV port on the module's scale "
           "(1.0 = 10 V) that takes the control's place while connected.\" ;\n"
           "\tdoap:license <http://opensource.org/licenses/MIT> ;\n"
        << "\tlv2:minorVersion " << minor << " ;\n"
        << "\tlv2:microVersion " << micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , opts:options , urid:map ;\n"
           "\topts:supportedOption bufsz:nominalBlockLength , bufsz:maxBlockLength ;\n";

    int index = 0;
    for (const SettingInfo &setting : kSettings) {
        beginPort(out, index == 0, "lv2:InputPort , lv2:ControlPort", index, setting.symbol,
                  setting.name);
        out << "\t\tlv2:default " << setting.defaultChoice << " ;\n"
            << "\t\tlv2:minimum " << static_cast<int>(setting.choices[0].value) << " ;\n"
            << "\t\tlv2:maximum "
            << static_cast<int>(setting.choices[setting.choiceCount - 1].value) << " ;\n"
            << "\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n"
            << "\t\tpg:group " << groupUri(kSettingsGroup) << " ;\n"
            << "\t\tlv2:scalePoint ";
        for (int c = 0; c < setting.choiceCount; ++c)
            out << (c ? " , " : "") << "[\n\t\t\trdfs:label " << quoted(setting.choices[c].label)
                << " ;\n\t\t\trdf:value " << static_cast<int>(setting.choices[c].value)
                << "\n\t\t]";
        out << "\n\t]";
        ++index;
    }
    for (const InputInfo &input : kInputs) {
        beginPort(out, false, "lv2:InputPort , lv2:ControlPort", index, input.symbol, input.name);
        out << "\t\tlv2:default " << decimal(input.defaultValue) << " ;\n"
            << "\t\tlv2:minimum " << decimal(input.minimum) << " ;\n"
            << "\t\tlv2:maximum " << decimal(input.maximum) << " ;\n"
            << "\t\tunits:unit <" << kPluginUri << "#volt> ;\n"
            << "\t\tpg:group " << groupUri(input.group) << " ;\n"
            << "\t\trdfs:comment " << quoted(input.comment) << "\n\t]";
        ++index;
    }
    for (const InputInfo &input : kInputs) {
        beginPort(out, false, "lv2:InputPort , lv2:CVPort", index,
                  (std::string(input.symbol) + "_cv").c_str(), std::string(input.name) + " CV");
        out << "\t\tlv2:minimum " << decimal(plugValueOfVolts(input.minimum)) << " ;\n"
            << "\t\tlv2:maximum " << decimal(plugValueOfVolts(input.maximum)) << " ;\n"
            << "\t\tlv2:portProperty lv2:connectionOptional ;\n"
            << "\t\tpg:group " << groupUri(kCvGroup) << " ;\n"
            << "\t\trdfs:comment \"" << input.name
            << " at audio rate, 1.0 = 10 V: takes the control's place while connected\"\n\t]";
        ++index;
    }
    for (const OutputInfo &output : kOutputs) {
        beginPort(out, false, "lv2:OutputPort , lv2:AudioPort", index, output.symbol, output.name);
        out << "\t\tpg:group " << groupUri(kOutputsGroup) << " ;\n"
            << "\t\trdfs:comment \"1.0 = 10 V: a 5 V level gives -0.5 to 0.5\"\n\t]";
        ++index;
    }
    out << " .\n";
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
    std::ostringstream manifest;
    manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
             << "<" << kPluginUri << ">\n\ta lv2:Plugin ;\n\tlv2:binary <" << argv[2]
             << "> ;\n\trdfs:seeAlso <fourwave.ttl> .\n";
    std::ostringstream plugin;
    writePlugin(plugin, argv[3], argv[4]);
    return writeFile(bundle + "/manifest.ttl", manifest.str()) &&
                   writeFile(bundle + "/fourwave.ttl", plugin.str())
               ? 0
               : 1;
}
