// The Windows build keeps no production record yet: --record is refused there with one line.
#include "records/RecordStore.h"

namespace bm::records {

bool Store::IsPostgres(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> Store::Open(const std::string&, bool) {
  throw RecordError("--record works on Linux only for now: this build keeps no production record");
}

std::string NowUtc() { return {}; }
std::optional<std::string> NormalizedTime(const std::string&) { return std::nullopt; }

}  // namespace bm::records

#include "records/SerialFormat.h"

namespace bm::records {

std::variant<SerialLayout, std::string> ParseSerialLayout(const std::string&) {
  return std::string("--serial-number works on Linux only for now (its numbers come from --record)");
}
std::variant<std::vector<uint8_t>, std::string> SerialLayout::Bytes(int64_t) const { return std::string(); }
std::string SerialLayout::Text(int64_t) const { return {}; }
size_t SerialLayout::MinBytes() const { return 0; }

}  // namespace bm::records
