// Device link with the control unit: the 2-byte IrFrame it sends for every
// infrared code and the DisplayFrame the host sends for its two text lines.
// Line settings: 2400 baud, 8 data bits, no parity, 1 stop bit, no flow control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The 16-bit code the console player traces and keeps in its key map: byte 1 in
// the high half, byte 0 widened as a signed 8-bit value, toggle bit 11 cleared.
// Widening means any byte 0 of 0x80 or above yields 0xF7xx whatever byte 1 is;
// mappings files written from the trace depend on exactly this form.
uint16_t MakeRemoteCode(uint8_t byte0, uint8_t byte1);

struct IrKey {
  uint8_t command;  // 0..63
  uint8_t system;   // 0..31
};

// RC-5 command and system address; the toggle and start bits are not looked at.
IrKey SplitIrFrame(uint8_t byte0, uint8_t byte1);

// The two bytes of an IrFrame, byte 0 first on the line.
struct IrFrame {
  uint8_t byte0 = 0;
  uint8_t byte1 = 0;
};

// Byte 1 of an IrFrame: the RC-5 toggle bit (bit 11 of the frame), which the
// remote flips on every press and keeps while a key is held, and the frame's
// two start bits.
constexpr uint8_t kToggleBit = 0x08;
constexpr uint8_t kStartBits = 0x30;

// The frame a remote sends for a RemoteCode, the inverse of MakeRemoteCode. A
// code whose byte 0 is 0x80 or above lost byte 1 to the widening, so byte 1
// then carries the start bits alone.
IrFrame IrFrameForCode(uint16_t code, bool toggle);

// The frame of an RC-5 command and system address, start bits set: the
// inverse of SplitIrFrame.
IrFrame IrFrameForKey(IrKey key, bool toggle);

constexpr unsigned char kLine1Start = 0x80;
constexpr unsigned char kLine2Start = 0xA8;
constexpr int kDisplayWidth = 16;

// A byte of a line's text as the frame carries it, one for one so that a line
// keeps its width: a marker inside a text would start a line of its own on
// the unit, and a control byte draws as the unit pleases. 0x80 becomes "E",
// 0xA8 and the controls a space; every other byte stays.
char LineTextByte(char c);

// 0x80, line 1, 0xA8, line 2. With rightJustify each text shorter than 16 is
// preceded by spaces up to 16. Texts are never cut; each byte goes out as
// LineTextByte gives it.
std::string BuildDisplayFrame(std::string_view line1, std::string_view line2,
                              bool rightJustify);

// A character is 10 bit times on the line (start, 8 data, stop): at 2400 baud
// 240 of them a second, about 4.17 ms each, so a 34-byte DisplayFrame takes
// about 142 ms. Microseconds for count bytes, rounded up.
constexpr uint32_t kLineBytesPerSecond = 240;
uint64_t LineTimeUs(size_t count);

// Frames at the line's pace. A frame written while the previous one is still
// on the wire only queues behind it in the driver, so a caller that asks for
// frames faster than the line carries them falls further and further behind.
// The caller sends when the line is free and, until then, keeps one pending
// request that always carries the newest state.
class LinePacer {
 public:
  // Microseconds until the last frame has had its line time; 0 when free.
  uint64_t WaitUs(uint64_t nowUs) const { return nowUs >= freeAtUs_ ? 0 : freeAtUs_ - nowUs; }
  bool Free(uint64_t nowUs) const { return WaitUs(nowUs) == 0; }
  // count bytes were handed to the line at nowUs. The unit gets a short pause
  // after each frame to draw it, so frames never come back to back; it also
  // keeps them apart by more than their line time when the reader at the
  // other end is a little late for one of them.
  static constexpr uint64_t kDrawGapUs = 10000;
  void Sent(uint64_t nowUs, size_t count) {
    freeAtUs_ = (nowUs > freeAtUs_ ? nowUs : freeAtUs_) + LineTimeUs(count) + kDrawGapUs;
  }

 private:
  uint64_t freeAtUs_ = 0;
};
