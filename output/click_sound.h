// The click sound of auto click: a short wave file played to its end before the call returns.
//
//   CClickSound sound(ClickSoundFile(), [&](const std::string& line) { log.Write(line, true); });
//   sound.PlayClickSound();  // blocks for the length of the sound
//
// Read with libsndfile and played through PulseAudio's simple API (which a PipeWire desktop also
// serves). Without the file or a sound server nothing is played, and the reason is reported once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What auto click and the floating window play; tests count the calls.
class IClickSound {
public:
    virtual ~IClickSound() = default;
    // Synchronous: returns once the sound has played, or at once when it cannot be played.
    virtual void PlayClickSound() = 0;
};

// audio/click.wav beside the executable.
std::filesystem::path ClickSoundFile();

class CClickSound final : public IClickSound {
public:
    using Report = std::function<void(const std::string& line)>;

    // report gets one line, the first time the sound cannot be played.
    explicit CClickSound(std::filesystem::path file, Report report = {});

    void PlayClickSound() override;

    struct SoundData {
        std::vector<std::int16_t> samples;  // interleaved
        int rate = 0;
        int channels = 0;
    };

private:
    void ReportOnce(const std::string& line);

    const std::filesystem::path m_file;
    const Report m_report;
    bool m_bReported = false;
    SoundData m_sound;  // empty until the file was read
};
