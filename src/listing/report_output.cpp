#include "listing/report_output.h"

#include "listing/escape.h"

namespace {

struct ReportTexts {
  char recipient[AddressTextSize];
  char sent[TimestampTextSize];
  char done[TimestampTextSize];
};

void RenderTexts(const StatusReport* report, ReportTexts* texts) {
  AddressText(texts->recipient, sizeof texts->recipient, report->recipient, AddressOctetsLimit);  // "" if it fails
  TimestampText(texts->sent, sizeof texts->sent, report->sent);
  TimestampText(texts->done, sizeof texts->done, report->done);
}

}  // namespace

void PrintReportLine(FILE* out, int index, const StatusReport* report) {
  ReportTexts texts;
  RenderTexts(report, &texts);
  fprintf(out, "%d\t%s\t%d\t", index, StatusWord(report->status), report->reference);
  PrintEscaped(out, texts.recipient);
  fprintf(out, "\t%s\t%s\n", texts.sent, texts.done);
}

void PrintIdMember(FILE* out, const MessageId* id) {
  if (!id) return;
  char text[IdTextSize];
  IdText(text, *id);
  fprintf(out, "\"id\":\"%s\",", text);
}

void PrintReportObject(FILE* out, int index, bool unread, const StatusReport* report, const MessageId* id) {
  ReportTexts texts;
  RenderTexts(report, &texts);
  fprintf(out, "{\"index\":%d,", index);
  PrintIdMember(out, id);
  fprintf(out, "\"unread\":%s,\"status\":\"%s\",\"code\":%d,\"reference\":%d,\"recipient\":",
          unread ? "true" : "false", StatusWord(report->status), report->status, report->reference);
  PrintJsonString(out, texts.recipient);
  fputs(",\"sent\":", out);
  PrintJsonString(out, texts.sent);
  fputs(",\"done\":", out);
  PrintJsonString(out, texts.done);
  fputc('}', out);
}
