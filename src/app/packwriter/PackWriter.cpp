#include "app/packwriter/PackWriter.h"

#include <string>

namespace bm::packwriter {
namespace {

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void U8(size_t at, uint8_t v) { out_.at(at) = v; }
  void Bool(size_t at, bool v) { U8(at, v ? 1 : 0); }
  void U16(size_t at, uint16_t v) {
    U8(at, static_cast<uint8_t>(v));
    U8(at + 1, static_cast<uint8_t>(v >> 8));
  }
  void I32(size_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) U8(at + static_cast<size_t>(i), static_cast<uint8_t>(u >> (8 * i)));
  }
  void Text(size_t at, size_t slot, const std::string& utf8) {
    const std::string latin1 = Latin1(utf8);
    const size_t n = std::min(latin1.size(), slot - 1);
    U8(at, static_cast<uint8_t>(n));
    for (size_t i = 0; i < n; ++i) U8(at + 1 + i, static_cast<uint8_t>(latin1[i]));
  }
  void Char(size_t at, const std::string& utf8) {
    const std::string latin1 = Latin1(utf8);
    U8(at, latin1.empty() ? 0 : static_cast<uint8_t>(latin1[0]));
  }

 private:
  static std::string Latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
      const auto c = static_cast<uint8_t>(utf8[i]);
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
        out += static_cast<char>(((c & 0x03) << 6) | (static_cast<uint8_t>(utf8[++i]) & 0x3F));
      } else {
        out += '?';
        while (i + 1 < utf8.size() && (static_cast<uint8_t>(utf8[i + 1]) & 0xC0) == 0x80) ++i;
      }
    }
    return out;
  }
  std::vector<uint8_t>& out_;
};

}  // namespace

std::vector<uint8_t> HeaderBytes(const Header& h) {
  std::vector<uint8_t> out(kHeaderSize, 0);
  Writer w(out);
  w.I32(0x00, static_cast<int32_t>(h.ParamOffset));
  w.I32(0x04, h.ParamLength);
  w.I32(0x08, h.FlashOffset);
  w.I32(0x0C, h.FlashCount);
  w.I32(0x10, h.EEpromOffset);
  w.I32(0x14, h.EEpromCount);
  return out;
}

std::vector<uint8_t> ParamBlock(const dParamList::ParamSet& p) {
  std::vector<uint8_t> out(kParamBlockSize, 0);
  Writer w(out);
  w.U16(0x00, p.eFileVersion);
  w.Text(0x02, 15, p.eProjectName);
  w.I32(0x11, p.eFileAge);
  w.Text(0x15, 17, p.eCPUname);
  w.U8(0x26, p.ePoll);
  w.U8(0x27, p.eCPUtyp);
  w.I32(0x28, p.eClock);
  w.U8(0x2C, p.ePageSize);
  w.Bool(0x2D, p.eProgName);
  w.Bool(0x2E, p.eProgSerNum);
  w.Bool(0x2F, p.eIgnoreID);
  w.Bool(0x30, p.eInvReset);
  w.Bool(0x31, p.ePushPullRes);
  w.U16(0x32, p.eResDelay);
  w.U8(0x34, p.eProgWait);
  w.U8(0x35, p.eSPIspeed);
  w.U8(0x36, p.eLockBits0);
  w.U8(0x37, p.eFuseBits0);
  w.U8(0x38, p.eFuseBits1);
  w.Bool(0x39, p.eProgFuses);
  w.Bool(0x3A, p.eProgFlash);
  w.Bool(0x3B, p.eProgEEprom);
  w.Bool(0x3C, p.eAT89Era);
  w.Bool(0x3D, p.eAutoRelease);
  w.I32(0x3E, p.eDeviceID);
  w.I32(0x42, p.eEProgEnd);
  w.I32(0x46, p.eFProgEnd);
  w.I32(0x4A, p.eFlashMax);
  w.I32(0x4E, p.eEEpromMax);
  struct Record {
    size_t at;
    int32_t cmd;
    uint8_t adr;
    uint8_t mask;
  };
  const Record records[] = {
      {0x52, p.eFuseWRcmd0, p.eFuseWRadr0, p.eFuseWRMask0},
      {0x5B, p.eFuseWRcmd1, p.eFuseWRadr1, p.eFuseWRMask1},
      {0x64, p.eFuseWRcmd2, p.eFuseWRadr2, p.eFuseWRMask2},
      {0x6D, p.eFuseRDcmd0, p.eFuseRDadr0, p.eFuseRDMask0},
      {0x76, p.eFuseRDcmd1, p.eFuseRDadr1, p.eFuseRDMask1},
      {0x7F, p.eFuseRDcmd2, p.eFuseRDadr2, p.eFuseRDMask2},
      {0x88, p.eLockWRcmd0, p.eLockWRadr0, p.eLockWRMask0},
      {0x91, p.eLockRDcmd0, p.eLockRDadr0, p.eLockRDMask0},
  };
  for (const Record& r : records) {
    w.I32(r.at, r.cmd);
    w.U8(r.at + 4, r.adr);
    w.U8(r.at + 8, r.mask);
  }
  w.Bool(0x57, p.eStayActive);
  w.U16(0x58, p.eISPserNum);
  w.U8(0x60, p.eByte1);
  w.Char(0x61, p.eSername1);
  w.Char(0x62, p.eSername2);
  w.U8(0x69, p.eByte2);
  w.U16(0x6A, p.eBoundary);
  w.U8(0x72, p.eCalByteNum);
  w.U16(0x73, p.eCalByteAddr);
  w.U8(0x7B, p.eByte4);
  w.U16(0x7C, p.eBootID);
  w.U8(0x84, p.eByte5);
  w.U16(0x85, p.eWord5);
  w.Bool(0x8D, p.eNoLockDev);
  w.U16(0x8E, p.eWord6);
  w.U8(0x96, p.eByte7);
  w.U16(0x97, p.eWord7);
  w.U8(0x9A, p.eSpecialAdr0);
  w.U8(0x9B, p.eSpecialMask);
  w.I32(0x9C, p.eSpecialCmd0);
  w.I32(0xA0, p.ePWRdownWait);
  w.I32(0xA4, p.eCreateDate);
  w.Bool(0xB7, p.eWriteCalByte);
  w.Bool(0xB8, p.eKillRC);
  w.Bool(0xB9, p.eRestoreEEp);
  w.U8(0xBA, p.eFuseBits2);
  w.Bool(0xBB, p.eJtag);
  w.Bool(0xBC, p.eJTAGmode);
  w.U16(0xBD, p.eVoltage);
  w.U8(0xBF, p.eEEpage);
  w.Bool(0xC0, p.eProgChkSum);
  w.Bool(0xC1, p.eJTAGN);
  w.U8(0xC2, p.eReserved14);
  return out;
}

std::vector<uint8_t> Pack(const dParamList::ParamSet& params, const std::vector<uint8_t>& flash,
                          const std::vector<uint8_t>& eeprom) {
  const std::vector<uint8_t> block = ParamBlock(params);
  Header h;
  h.ParamOffset = kHeaderSize;
  h.ParamLength = static_cast<int32_t>(block.size());
  h.FlashOffset = static_cast<int32_t>(h.ParamOffset + block.size());
  h.FlashCount = static_cast<int32_t>(flash.size()) + 1;
  h.EEpromOffset = h.FlashOffset + static_cast<int32_t>(flash.size());
  h.EEpromCount = static_cast<int32_t>(eeprom.size()) + 1;
  std::vector<uint8_t> out = HeaderBytes(h);
  out.insert(out.end(), block.begin(), block.end());
  out.insert(out.end(), flash.begin(), flash.end());
  out.insert(out.end(), eeprom.begin(), eeprom.end());
  return out;
}

}  // namespace bm::packwriter
