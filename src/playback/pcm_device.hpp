// A playback device that is open and configured: the player's only view of
// the sound system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/outcome.hpp"

class PcmDevice {
public:
    virtual ~PcmDevice() = default;

    // Frames in one period, the unit of every write.
    virtual int64_t periodFrames() const = 0;

    // Writes one period. An underrun loses that period; other failures are
    // recovered when the device allows it and come back as a failure otherwise.
    virtual Outcome writePeriod(const uint8_t* frames, int64_t count) = 0;

    // Waits until everything written has played, then closes the device.
    virtual void drainAndClose() = 0;

    // Drops what is still waiting to be played and closes the device at once.
    virtual void dropAndClose() = 0;
};

// Opens the named ALSA device for playback of `channels` interleaved
// channels at `rate` and `bits` (16 or 24), with periods of about 1024
// frames, and prepares it. A `shortBuffer` holds about 40 ms in periods of
// about 10 ms, for play that keys change as it goes.
Outcome openAlsaPcm(const std::string& name, uint32_t rate, int32_t bits,
                    std::unique_ptr<PcmDevice>& device, int32_t channels = 1,
                    bool shortBuffer = false);
