#include "core/sample_codec.hpp"

void encode24(const int32_t* samples, uint8_t* bytes, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        const uint32_t v = static_cast<uint32_t>(samples[i]);
        bytes[3 * i] = static_cast<uint8_t>(v & 0xFF);
        bytes[3 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        bytes[3 * i + 2] = static_cast<uint8_t>((v >> 16) & 0xFF);
    }
}

void encode16(const int32_t* samples, uint8_t* bytes, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        // Arithmetic shift: -1 stays -1 and -256 becomes -1.
        const int32_t shifted = samples[i] >> 8;
        const uint32_t v = static_cast<uint32_t>(shifted);
        bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
}

int32_t saturated(double sample) {
    if (!(sample < kFullScale24 + 1.0)) return sample > 0.0 ? kFullScale24 : -kFullScale24 - 1;
    if (!(sample > -kFullScale24 - 2.0)) return -kFullScale24 - 1;
    return static_cast<int32_t>(sample);
}

void scaleSaturated(const int32_t* samples, double gain, int32_t* out, int64_t length) {
    for (int64_t i = 0; i < length; ++i) out[i] = saturated(static_cast<double>(samples[i]) * gain);
}

void encodeScaled(const int32_t* samples, SampleScale scale, uint8_t* bytes, int64_t length,
                  int32_t bytesPerSample) {
    for (int64_t i = 0; i < length; ++i) {
        const int32_t divided = samples[i] / scale.divisor;
        const int32_t v = saturated(static_cast<double>(divided) * scale.level);
        if (bytesPerSample == 3) {
            encode24(&v, bytes + 3 * i, 1);
        } else {
            encode16(&v, bytes + 2 * i, 1);
        }
    }
}
