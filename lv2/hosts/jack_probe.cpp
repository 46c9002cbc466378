// A JACK client of the tests' own, for driving a plug-in in a JACK host (jalv) as a patch or
// a keyboard would: it feeds constant values to ports (CV inputs), sends MIDI messages at
// given times, and records ports, all counted from one frame of the server's clock. Two
// clients, one that feeds and one that records, so that the graph runs feed -> host ->
// record in one cycle, without a loop.
//
//   fourwave_jack_probe --seconds S --out FILE [--feed PORT=VALUE]... [--midi PORT]
//                       [--event SECONDS:STATUS:DATA1:DATA2]... [--capture PORT]...
//
// FILE gets float32 samples, one interleaved column per --capture, S seconds at the
// server's rate; stdout gets "rate R". The server is JACK_DEFAULT_SERVER's (or the default).
// Exit status 0 when the recording is whole, 1 otherwise (a message on stderr says why).
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Feed {
    std::string target;
    float value;
    jack_port_t *port = nullptr;
};
struct Event {
    double seconds;
    unsigned char bytes[3];
    jack_nframes_t offset = 0;
};

struct Probe {
    std::vector<Feed> feeds;
    std::vector<Event> events;
    std::string midiTarget;
    jack_port_t *midiPort = nullptr;
    std::vector<std::string> captureTargets;
    std::vector<jack_port_t *> capturePorts;
    std::vector<float> recording; // interleaved
    jack_nframes_t frames = 0;
    std::atomic<bool> armed{false};   // set once every connection is in place
    std::atomic<bool> started{false}; // set with `start`, by the feeding client's callback
    std::atomic<jack_nframes_t> start{0};
    std::atomic<jack_nframes_t> recorded{0};
};

// Frames from `start` to `frame` on the server's wrapping clock (negative before it).
int64_t since(jack_nframes_t start, jack_nframes_t frame) {
    return static_cast<int32_t>(frame - start);
}

// The clients, kept where the callbacks can reach them.
jack_client_t *feedClient = nullptr;
jack_client_t *recordClient = nullptr;

} // namespace

namespace {

int feedProcess(jack_nframes_t count, void *arg) {
    Probe &probe = *static_cast<Probe *>(arg);
    // The start: a few cycles ahead, on a cycle's first frame, so that the host's cycles cut
    // the recording where a render in blocks of the server's period cuts it.
    if (probe.armed && !probe.started) {
        probe.start = jack_last_frame_time(feedClient) + 4 * count;
        probe.started = true;
    }
    for (Feed &feed : probe.feeds) {
        float *out = static_cast<float *>(jack_port_get_buffer(feed.port, count));
        for (jack_nframes_t i = 0; i < count; ++i) out[i] = feed.value;
    }
    if (probe.midiPort == nullptr) return 0;
    void *midi = jack_port_get_buffer(probe.midiPort, count);
    jack_midi_clear_buffer(midi);
    if (!probe.started) return 0;
    const int64_t cycle = since(probe.start, jack_last_frame_time(feedClient));
    for (const Event &event : probe.events) {
        const int64_t at = static_cast<int64_t>(event.offset) - cycle;
        if (at >= 0 && at < count)
            jack_midi_event_write(midi, static_cast<jack_nframes_t>(at), event.bytes, 3);
    }
    return 0;
}

int recordProcess(jack_nframes_t count, void *arg) {
    Probe &probe = *static_cast<Probe *>(arg);
    if (!probe.started) return 0;
    const int64_t cycle = since(probe.start, jack_last_frame_time(recordClient));
    const size_t columns = probe.capturePorts.size();
    for (size_t c = 0; c < columns; ++c) {
        const float *in =
            static_cast<const float *>(jack_port_get_buffer(probe.capturePorts[c], count));
        for (jack_nframes_t i = 0; i < count; ++i) {
            const int64_t frame = cycle + i;
            if (frame >= 0 && frame < probe.frames)
                probe.recording[static_cast<size_t>(frame) * columns + c] = in[i];
        }
    }
    const int64_t end = cycle + count;
    if (end > 0) probe.recorded = static_cast<jack_nframes_t>(std::min<int64_t>(end, probe.frames));
    return 0;
}

bool fail(const std::string &message) {
    std::fprintf(stderr, "fourwave_jack_probe: %s\n", message.c_str());
    return false;
}

bool connect(jack_client_t *client, const char *from, const char *to) {
    const int status = jack_connect(client, from, to);
    return status == 0 || status == EEXIST ||
           fail(std::string("cannot connect ") + from + " to " + to);
}

} // namespace

int main(int argc, char **argv) {
    Probe probe;
    double seconds = 1.0;
    std::string out;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--seconds") {
            seconds = std::atof(value.c_str());
        } else if (option == "--out") {
            out = value;
        } else if (option == "--feed") {
            const size_t equals = value.rfind('=');
            probe.feeds.push_back({value.substr(0, equals),
                                   static_cast<float>(std::atof(value.c_str() + equals + 1))});
        } else if (option == "--midi") {
            probe.midiTarget = value;
        } else if (option == "--event") {
            Event event{};
            unsigned status = 0, first = 0, second = 0;
            if (std::sscanf(value.c_str(), "%lf:%u:%u:%u", &event.seconds, &status, &first,
                            &second) != 4)
                return fail("bad --event " + value), 2;
            event.bytes[0] = static_cast<unsigned char>(status);
            event.bytes[1] = static_cast<unsigned char>(first);
            event.bytes[2] = static_cast<unsigned char>(second);
            probe.events.push_back(event);
        } else if (option == "--capture") {
            probe.captureTargets.push_back(value);
        } else {
            return fail("unknown option " + option), 2;
        }
    }
    if (out.empty() || probe.captureTargets.empty()) return fail("need --out and --capture"), 2;

    feedClient = jack_client_open("fwprobe_feed", JackNoStartServer, nullptr);
    recordClient = jack_client_open("fwprobe_record", JackNoStartServer, nullptr);
    if (feedClient == nullptr || recordClient == nullptr) return fail("no JACK server"), 1;
    const jack_nframes_t rate = jack_get_sample_rate(feedClient);
    probe.frames = static_cast<jack_nframes_t>(seconds * rate);
    probe.recording.assign(static_cast<size_t>(probe.frames) * probe.captureTargets.size(), 0.0f);
    for (Event &event : probe.events)
        event.offset = static_cast<jack_nframes_t>(event.seconds * rate + 0.5);

    for (size_t f = 0; f < probe.feeds.size(); ++f)
        probe.feeds[f].port = jack_port_register(feedClient, ("feed" + std::to_string(f)).c_str(),
                                                 JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!probe.midiTarget.empty())
        probe.midiPort =
            jack_port_register(feedClient, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    for (size_t c = 0; c < probe.captureTargets.size(); ++c)
        probe.capturePorts.push_back(
            jack_port_register(recordClient, ("in" + std::to_string(c)).c_str(),
                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    jack_set_process_callback(feedClient, feedProcess, &probe);
    jack_set_process_callback(recordClient, recordProcess, &probe);
    if (jack_activate(feedClient) != 0 || jack_activate(recordClient) != 0)
        return fail("cannot activate"), 1;

    bool ok = true;
    for (const Feed &feed : probe.feeds)
        ok = ok && connect(feedClient, jack_port_name(feed.port), feed.target.c_str());
    if (probe.midiPort != nullptr)
        ok = ok && connect(feedClient, jack_port_name(probe.midiPort), probe.midiTarget.c_str());
    for (size_t c = 0; c < probe.captureTargets.size(); ++c)
        ok = ok && connect(recordClient, probe.captureTargets[c].c_str(),
                           jack_port_name(probe.capturePorts[c]));

    if (ok) {
        probe.armed = true;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 15000);
        while (probe.recorded < probe.frames && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (probe.recorded < probe.frames) ok = fail("the recording did not complete in time");
    }
    jack_deactivate(feedClient);
    jack_deactivate(recordClient);
    jack_client_close(feedClient);
    jack_client_close(recordClient);
    if (!ok) return 1;

    FILE *file = std::fopen(out.c_str(), "wb");
    if (file == nullptr ||
        std::fwrite(probe.recording.data(), sizeof(float), probe.recording.size(), file) !=
            probe.recording.size() ||
        std::fclose(file) != 0)
        return fail("cannot write " + out), 1;
    std::printf("rate %u\n", rate);
    return 0;
}
