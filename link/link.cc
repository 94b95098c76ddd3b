#include "link/link.h"

uint16_t MakeRemoteCode(uint8_t byte0, uint8_t byte1) {
  const uint16_t low = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(byte0)));
  const uint16_t high = static_cast<uint16_t>(byte1 << 8);
  return static_cast<uint16_t>((high | low) & 0xF7FF);
}

IrKey SplitIrFrame(uint8_t byte0, uint8_t byte1) {
  IrKey key;
  key.command = static_cast<uint8_t>(byte0 & 0x3F);
  key.system = static_cast<uint8_t>(((byte1 & 0x07) << 2) | (byte0 >> 6));
  return key;
}

IrFrame IrFrameForCode(uint16_t code, bool toggle) {
  IrFrame frame;
  frame.byte0 = static_cast<uint8_t>(code & 0xFF);
  frame.byte1 = frame.byte0 >= 0x80 ? kStartBits : static_cast<uint8_t>((code >> 8) & ~kToggleBit);
  if (toggle) frame.byte1 |= kToggleBit;
  return frame;
}

IrFrame IrFrameForKey(IrKey key, bool toggle) {
  IrFrame frame;
  frame.byte0 = static_cast<uint8_t>((key.command & 0x3F) | ((key.system & 0x03) << 6));
  frame.byte1 = static_cast<uint8_t>(kStartBits | ((key.system >> 2) & 0x07));
  if (toggle) frame.byte1 |= kToggleBit;
  return frame;
}

// 0x80 is the euro sign in the Windows code page of the host's titles; 0xA8
// the diaeresis alone, a space as in converted text.
char LineTextByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b == kLine1Start) return 'E';
  if (b == kLine2Start || b < 0x20 || b == 0x7F) return ' ';
  return c;
}

namespace {
void AppendLine(std::string& frame, std::string_view text, bool rightJustify) {
  if (rightJustify && text.size() < static_cast<size_t>(kDisplayWidth))
    frame.append(kDisplayWidth - text.size(), ' ');
  for (char c : text) frame.push_back(LineTextByte(c));
}
}  // namespace

std::string BuildDisplayFrame(std::string_view line1, std::string_view line2,
                              bool rightJustify) {
  std::string frame;
  frame.reserve(2 + line1.size() + line2.size() + 2 * kDisplayWidth);
  frame.push_back(static_cast<char>(kLine1Start));
  AppendLine(frame, line1, rightJustify);
  frame.push_back(static_cast<char>(kLine2Start));
  AppendLine(frame, line2, rightJustify);
  return frame;
}

uint64_t LineTimeUs(size_t count) {
  return (static_cast<uint64_t>(count) * 1000000u + kLineBytesPerSecond - 1) / kLineBytesPerSecond;
}
