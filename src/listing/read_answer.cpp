#include "listing/read_answer.h"

#include <string.h>

#include "codec/codec_buffer.h"
#include "codec/ucs2_to_utf8.h"
#include "modem/commands.h"
#include "serial/unasked_lines.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// isalnum in the POSIX locale, without the locale and without sign trouble.
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "24/05/01,10:20:30+08" as modems give the date: digits, "/", ",", ":" and a sign, never a hex name.
bool LooksLikeDate(const char* field, const char* end) {
  bool slash = false, colon = false;
  for (; field < end; ++field) {
    if (*field == '/')
      slash = true;
    else if (*field == ':')
      colon = true;
    else if (!IsDigit(*field) && *field != ',' && *field != '+' && *field != '-')
      return false;
  }
  return slash && colon;
}

// A text in hex is one line: it ends at its line end, whatever follows ("SMS DONE", "+CMTI: ...").
// A text in words (a modem that kept its own character set) may span lines.
void CutHexLine(char* text) {
  char* end = text;
  while (HexDigitValue(*end) >= 0) ++end;
  if (*end == '\r' || *end == '\n') *end = '\0';
}

// Where the date starts, after the sender (p is past its digits), or null. After the sender's
// closing quote: ,"<date>" (no alpha field), ,"<alpha>","<date>" (a name, or "") or ,,"<date>".
char* FindDate(char* p, const char* endMark) {
  char* quote = p;
  while (quote < endMark && *quote != '"') ++quote;
  if (quote < endMark && strncmp(quote + 1, ",\"", 2) == 0) {
    char* const field = quote + 3;
    char* close = field;
    while (close < endMark && *close != '"') ++close;
    if (close < endMark) {
      if (LooksLikeDate(field, close)) return field;
      if (strncmp(close + 1, ",\"", 2) == 0) return close + 3;  // that was the alpha field
    }
  }
  char* const empty = strstr(p, AnsNoAlpha);
  return empty ? empty + strlen(AnsNoAlpha) : nullptr;
}

}  // namespace

int ParseMessage(char* answer, int index, MessageFields* fields, bool decodeText) {
  char* const ok = strstr(answer, AnsOk);
  if (!ok || ok == answer) return -1;  // no header can stand before the "OK"
  // Trim what follows the text (line ends, the closing quote of an empty text) back to the last
  // letter or digit; that position bounds every scan below. The first character is never trimmed.
  char* endMark = ok - 1;
  while (endMark > answer && !IsAlnum(*endMark)) *endMark-- = '\0';

  char* const header = strstr(answer, AnsReadLine);
  if (!header) return -1;
  char* p;
  char* status = strstr(header, AnsUnread);
  if (status) {
    fields->unread = true;
    p = status + strlen(AnsUnread);
  } else if ((status = strstr(answer, AnsRead)) != nullptr) {
    fields->unread = false;
    p = status + strlen(AnsRead);
  } else {
    return -1;  // "STO SENT", "STO UNSENT" and unknown states are no received message
  }
  fields->index = index;
  fields->identified = false;  // a read alone has no PDU to take it from

  char* const sender = fields->sender;
  memset(sender, 0, MessageFieldSize);
  for (int n = 0; p < endMark && IsAlnum(*p); ++p)
    if (n < MessageFieldSize - 1) sender[n++] = *p;
  if (p >= endMark) return -1;
  int decoded = Ucs2HexToUtf8(CodecBuffer, sender);
  if (decoded >= 0) {  // otherwise the sender stays as the modem gave it
    memset(sender, 0, MessageFieldSize);
    memcpy(sender, CodecBuffer, decoded < MessageFieldSize - 1 ? decoded : MessageFieldSize - 1);
  }

  p = FindDate(p, endMark);
  if (!p) return -1;
  char* const date = fields->date;
  memset(date, 0, MessageFieldSize);
  for (int n = 0; *p != '"'; ++p) {
    if (p >= endMark) return -1;
    if (n < MessageFieldSize - 1) date[n++] = *p;
  }

  // A modem set to show header values (AT+CSDH=1) goes on after the date with <tooa>,<fo>,<pid>,
  // <dcs>,<sca>,<tosca>,<length>: the text starts on the next line all the same.
  p = p[1] == ',' ? p + strcspn(p, "\r\n") : p + 1;
  // Lines the modem sends unasked may stand between the header and the text.
  if (*p == '\r' || *p == '\n') p = (char*)SkipUnaskedLines(p, AnsReadLine);
  while (p < endMark && !IsAlnum(*p)) ++p;
  if (p >= endMark) return -1;
  CutHexLine(p);
  fields->given = p;
  fields->text = p;
  if (decodeText && Ucs2HexToUtf8(CodecBuffer, p) >= 0) fields->text = CodecBuffer;
  return 0;
}

int ParseListedMessage(char* answer, int index, const Listing* listing, MessageFields* fields, bool text) {
  const ListedMessage* const message = DeliverAt(listing, index);
  const UserData* const userData = message ? &message->pdu.userData : nullptr;
  const bool givenHex = userData && userData->alphabet == Alphabet8Bit;
  const bool ownText = userData && userData->header && !givenHex;
  if (ParseMessage(answer, index, fields, text && !givenHex && !ownText) < 0) return -1;
  fields->unread = fields->unread || ListedUnread(listing, index);  // the listing may have marked it read
  fields->identified = IdAt(listing, index, &fields->id) == 0;
  if (!text || !ownText) return 0;
  if (UserDataText(CodecBuffer, CodecBufferSize, userData) >= 0 || Ucs2HexToUtf8(CodecBuffer, fields->given) >= 0)
    fields->text = CodecBuffer;
  return 0;
}
