// demo-tone out.wav seconds note: a short tune as a 22050 Hz mono WAV file,
// for the demo's generated tracks. note picks the key of the tune.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
constexpr int kRate = 22050;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    fprintf(stderr, "Usage: demo-tone out.wav seconds note\n");
    return 2;
  }
  const int seconds = atoi(argv[2]);
  const int note = atoi(argv[3]);
  if (seconds < 1 || seconds > 600) {
    fprintf(stderr, "demo-tone: seconds must be 1..600\n");
    return 2;
  }
  const double kPi = 3.14159265358979323846;
  const int scale[] = {0, 2, 4, 7, 9, 12, 9, 7, 4, 2};
  const uint32_t samples = static_cast<uint32_t>(seconds) * kRate;
  std::vector<uint8_t> wav;
  wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
  Put32(wav, 36 + samples * 2);
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(wav, 16);
  Put16(wav, 1);
  Put16(wav, 1);
  Put32(wav, kRate);
  Put32(wav, kRate * 2);
  Put16(wav, 2);
  Put16(wav, 16);
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  Put32(wav, samples * 2);
  const uint32_t step = kRate / 2;  // a note every half second
  for (uint32_t i = 0; i < samples; ++i) {
    const uint32_t index = i / step;
    const double semitones = (note % 12) + scale[index % 10];
    const double freq = 220.0 * std::pow(2.0, semitones / 12.0);
    const double t = static_cast<double>(i % step) / kRate;
    const double envelope = std::exp(-4.0 * t);
    const double value = 0.3 * envelope * std::sin(2 * kPi * freq * i / kRate);
    Put16(wav, static_cast<uint16_t>(static_cast<int16_t>(value * 32767)));
  }
  FILE* out = fopen(argv[1], "wb");
  if (out == nullptr || fwrite(wav.data(), 1, wav.size(), out) != wav.size() || fclose(out) != 0) {
    fprintf(stderr, "demo-tone: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
