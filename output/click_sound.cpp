#include "output/click_sound.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/paths.h"

namespace {

constexpr const char* kClientName = "Mivex";
constexpr const char* kStreamName = "click";

using SoundData = CClickSound::SoundData;

// The whole file as 16-bit samples, or the reason it cannot be had.
bool ReadSound(const std::filesystem::path& file, SoundData& sound, std::string& error) {
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        error = "cannot read " + file.string() + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> closer(handle, sf_close);
    if (info.channels < 1 || info.channels > 8 || info.frames <= 0 || info.samplerate <= 0) {
        error = "no sound in " + file.string();
        return false;
    }
    sound.samples.resize(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t frames = sf_readf_short(handle, sound.samples.data(), info.frames);
    sound.samples.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(info.channels));
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    return true;
}

}  // namespace

std::filesystem::path ClickSoundFile() { return ExecutableDirectory() / "audio" / "click.wav"; }

CClickSound::CClickSound(std::filesystem::path file, Report report)
    : m_file(std::move(file)), m_report(std::move(report)) {}

void CClickSound::ReportOnce(const std::string& line) {
    if (m_bReported) return;
    m_bReported = true;
    if (m_report) m_report(line);
}

void CClickSound::PlayClickSound() {
    // Read at the first play, not at every dwell click on the user-interface thread.
    if (m_sound.samples.empty()) {
        std::string error;
        if (!ReadSound(m_file, m_sound, error)) {
            ReportOnce("click sound not played: " + error);
            return;
        }
    }
    const SoundData& sound = m_sound;
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = static_cast<std::uint32_t>(sound.rate);
    spec.channels = static_cast<std::uint8_t>(sound.channels);
    int code = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, kClientName, PA_STREAM_PLAYBACK, nullptr, kStreamName, &spec, nullptr, nullptr, &code);
    if (stream == nullptr) {
        ReportOnce(std::string("click sound not played: no sound server: ") + pa_strerror(code));
        return;
    }
    if (pa_simple_write(stream, sound.samples.data(), sound.samples.size() * sizeof(std::int16_t), &code) < 0 ||
        pa_simple_drain(stream, &code) < 0)
        ReportOnce(std::string("click sound not played: ") + pa_strerror(code));
    pa_simple_free(stream);
}
