// The highest index of a "+CMGL:" listing, on any answer a modem could send, whole or in pieces.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "listing/joined_parts.h"
#include "listing/listing_answer.h"
#include "serial/exchange.h"

namespace {

// The whole-buffer reading the piece-wise scanner must match, written with plain substring
// searches: the first "OK" ends the listing, every "+CMGL:" before it needs its digit run (the
// skip to it may cross lines) to end before that "OK".
int ReferenceHighest(const std::string& text, bool* zeroInUse) {
  const std::string visible = text.substr(0, text.find('\0'));
  *zeroInUse = false;
  const size_t ok = visible.find("OK");
  if (ok == std::string::npos) return -1;
  long long highest = -1;
  bool zero = false;
  for (size_t hit = visible.find("+CMGL:"); hit < ok; hit = visible.find("+CMGL:", hit + 1)) {
    size_t p = visible.find_first_of("0123456789", hit + 6);
    if (p >= ok) return -1;
    size_t end = visible.find_first_not_of("0123456789", p);
    if (end >= ok) return -1;
    long long value = 0;
    for (size_t i = p; i < end; ++i) value = std::min(value * 10 + (visible[i] - '0'), (long long)INT_MAX);
    zero = zero || value == 0;
    highest = std::max(highest, value);
  }
  *zeroInUse = highest >= 0 && zero;
  return (int)highest;
}

// Which indexes --join joins: each one with the lowest index of its message, at or below its own.
void CheckGroups(Listing* listing) {
  FindPartGroups(listing);
  for (int i = 0; i < ListedIndexes; ++i) {
    const int lowest = GroupOf(listing, i);
    FUZZ_CHECK(lowest <= i && (lowest < 0 || GroupOf(listing, lowest) == lowest));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t)ResponseBufferSize) return 0;  // ReadResponse never collects more
  const std::string original = AsText(data, size);
  // Exactly as long as the text, so any read or write past its NUL is caught.
  std::vector<char> answer(original.begin(), original.end());
  answer.push_back('\0');
  bool zeroInUse = true;
  const int index = FindHighestIndex(answer.data(), &zeroInUse);

  FUZZ_CHECK(index >= -1);
  // zeroInUse is only meaningful with an index: a refused listing may leave it set (see the
  // seed "zero-then-refused"); callers never use it then.
  if (zeroInUse) FUZZ_CHECK(original.find("+CMGL:") != std::string::npos);
  const size_t ok = original.find("OK");
  const size_t line = original.find("+CMGL:");
  if (ok == std::string::npos || line == std::string::npos || line > ok) FUZZ_CHECK(index == -1);
  // At most one NUL written, and only in place of a character that was there.
  size_t changed = 0;
  for (size_t i = 0; i < original.size(); ++i)
    if (answer[i] != original[i]) {
      FUZZ_CHECK(answer[i] == '\0');
      ++changed;
    }
  FUZZ_CHECK(changed <= 1);
  FUZZ_CHECK(FindHighestIndex(answer.data(), nullptr) >= -1);  // a null flag is allowed

  bool referenceZero = false;
  FUZZ_CHECK(index == ReferenceHighest(original, &referenceZero));
  FUZZ_CHECK(zeroInUse == referenceZero);
  // The same bytes in two pieces, cut where the first byte says, and one byte at a time.
  const size_t cut = size ? data[0] % (size + 1) : 0;
  ListingScan halves, bytes;
  static Listing halvesListing, bytesListing;
  BeginListingScan(&halves, &halvesListing);
  ScanListingPiece(&halves, original.data(), cut);
  ScanListingPiece(&halves, original.data() + cut, size - cut);
  BeginListingScan(&bytes, &bytesListing);
  for (size_t i = 0; i < size; ++i) ScanListingPiece(&bytes, original.data() + i, 1);
  bool halvesZero = false, bytesZero = false;
  FUZZ_CHECK(EndListingScan(&halves, &halvesZero) == index && halvesZero == zeroInUse);
  FUZZ_CHECK(EndListingScan(&bytes, &bytesZero) == index && bytesZero == zeroInUse);
  FUZZ_CHECK(halvesListing.highest == index && halvesListing.zeroInUse == zeroInUse);
  FUZZ_CHECK(!halvesListing.empty || (index == -1 && ok != std::string::npos));
  // Both note the same of every index (and which ones the answer named), and every received message
  // noted can be shown.
  FUZZ_CHECK(std::memcmp(halvesListing.named, bytesListing.named, sizeof halvesListing.named) == 0);
  FUZZ_CHECK(std::memcmp(halvesListing.unread, bytesListing.unread, sizeof halvesListing.unread) == 0);
  for (int i = 0; i < ListedIndexes; ++i) {
    const ListedKind kind = halvesListing.kind[i];
    FUZZ_CHECK(kind == bytesListing.kind[i] && halvesListing.stat[i] == bytesListing.stat[i]);
    FUZZ_CHECK(halvesListing.stat[i] >= -1 && halvesListing.stat[i] <= 3);
    // The id does not depend on how the answer was cut, and a received message always has one.
    MessageId halvesId = 0, bytesId = 0;
    const int identified = IdAt(&halvesListing, i, &halvesId);
    FUZZ_CHECK(identified == IdAt(&bytesListing, i, &bytesId) && halvesId == bytesId);
    if (kind == ListedDeliver || kind == ListedReport) FUZZ_CHECK(identified == 0);
    if (kind != NotListed) FUZZ_CHECK(original.find("+CMGL:") != std::string::npos);
    if (const ListedMessage* part = PartAt(&halvesListing, i))  // a part stands within its message
      FUZZ_CHECK(part->concatenation.total >= 2 && part->concatenation.sequence >= 1 &&
                 part->concatenation.sequence <= part->concatenation.total);
    if (const StatusReport* a = ReportAt(&halvesListing, i)) {
      const StatusReport* b = ReportAt(&bytesListing, i);
      FUZZ_CHECK(a->reference == b->reference && a->status == b->status);
      FUZZ_CHECK(std::memcmp(a->recipient, b->recipient, sizeof a->recipient) == 0);
      FUZZ_CHECK(std::memcmp(a->sent, b->sent, sizeof a->sent) == 0 && std::memcmp(a->done, b->done, sizeof a->done) == 0);
    }
    if (kind != ListedDeliver) continue;
    const DeliverPdu& a = halvesListing.message[i].pdu;
    const DeliverPdu& b = bytesListing.message[i].pdu;
    FUZZ_CHECK(std::memcmp(a.originator, b.originator, sizeof a.originator) == 0);
    FUZZ_CHECK(std::memcmp(a.timestamp, b.timestamp, sizeof a.timestamp) == 0);
    FUZZ_CHECK(a.userData.alphabet == b.userData.alphabet && a.userData.header == b.userData.header);
    FUZZ_CHECK(a.userData.length == b.userData.length && a.userData.octets == b.userData.octets);
    FUZZ_CHECK(std::memcmp(a.userData.data, b.userData.data, a.userData.octets) == 0);
    MessageFields fields;
    ShowListedHeader(&halvesListing, i, &fields);
    FUZZ_CHECK(std::strlen(fields.sender) < sizeof fields.sender && std::strlen(fields.date) < sizeof fields.date);
    char text[UserDataTextSize];
    FUZZ_CHECK(ShowListedText(&halvesListing, i, text, sizeof text) >= 0);
  }
  CheckGroups(&halvesListing);
  return 0;
}
