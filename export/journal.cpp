#include "export/journal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "export/card_mask.h"
#include "export/json_line.h"
#include "export/result_lists.h"
#include "paylib/process_state.h"
#include "paylib/settings.h"
#include "platform/platform.h"

#ifndef BRENNICK_VERSION
#define BRENNICK_VERSION "0.0.0"
#endif

namespace {

constexpr std::size_t kArgumentLimit = 2048;
// The longest line: every byte of every text escaped to six.
constexpr std::size_t kLineSize = 6 * (kArgumentLimit + kErrorTextSize + 4 * kResultPathSize +
                                       kLibraryPathSize + 1024) + 1024;

platform::FileHandle g_journal = platform::kNoFile;
// The report channel of the program that started the run, when it named one.
platform::FileHandle g_report = platform::kNoFile;
char g_line[kLineSize];
char g_runId[17];
char g_journalPath[kResultPathSize];
// A text with its card numbers masked, for the moment it is added.
char g_masked[kErrorTextSize + kLineSize / 8];

void PutDigits(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
}

// ISO 8601 local time with milliseconds and the offset from UTC.
void AddTime(JsonLine* j)
{
    platform::LocalTime t = platform::LocalNow();
    char s[29];   // 2026-12-08T14:30:05.123+01:00
    PutDigits(s, t.year, 4);
    s[4] = '-';
    PutDigits(s + 5, t.month, 2);
    s[7] = '-';
    PutDigits(s + 8, t.day, 2);
    s[10] = 'T';
    PutDigits(s + 11, t.hour, 2);
    s[13] = ':';
    PutDigits(s + 14, t.minute, 2);
    s[16] = ':';
    PutDigits(s + 17, t.second, 2);
    s[19] = '.';
    PutDigits(s + 20, t.millisecond, 3);
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    s[23] = t.offsetMinutes < 0 ? '-' : '+';
    PutDigits(s + 24, offset / 60, 2);
    s[26] = ':';
    PutDigits(s + 27, offset % 60, 2);
    JsonText(j, "time", s, sizeof s);
}

void BeginLine(JsonLine* j, const char* event)
{
    JsonBegin(j, g_line, sizeof g_line);
    JsonText(j, "event", event);
    AddTime(j);
    JsonText(j, "run", g_runId);
    JsonNumber(j, "pid", static_cast<long long>(platform::ProcessId()));
    JsonText(j, "instance", g_instanceId);
}

// Adds a text that may hold a card number the library or the system put in.
void AddMasked(JsonLine* j, const char* key, const char* bytes, std::size_t size)
{
    if (size > sizeof g_masked) size = sizeof g_masked;
    std::copy_n(bytes, size, g_masked);
    MaskCardNumbers(g_masked, size);
    JsonText(j, key, g_masked, size);
}

void AddMasked(JsonLine* j, const char* key, const char* text)
{
    AddMasked(j, key, text, std::strlen(text));
}

// A report channel whose reader has gone or does not read is given up: the
// run goes on without it, and says so.
void Report(std::size_t size)
{
    if (g_report == platform::kNoFile || platform::WriteReport(g_report, g_line, size)) return;
    unsigned long ignored;
    platform::CloseFile(g_report, &ignored);
    g_report = platform::kNoFile;
    platform::WriteStandardError("report: nobody reads the channel named by BRENNICK_REPORT: the run goes on "
                                 "without it");
}

// One write per line: concurrent runs appending to the same file never
// interleave. A line that did not fit is not written at all.
enum Destination { kJournal = 1, kReport = 2 };

void WriteLine(JsonLine* j, int to)
{
    std::size_t size = JsonEnd(j);
    if (size == 0) return;
    if ((to & kJournal) != 0 && g_journal != platform::kNoFile) {
        platform::AppendLine(g_journal, g_line, size);
    }
    if ((to & kReport) != 0) Report(size);
}

// The id that the starter of the run gave with its channel: it knows the
// run by it before any line comes, and finds it again in the journal. Only
// an id of the run's own form is taken.
void TakeGivenRunId()
{
    char given[64];
    if (!platform::EnvironmentValue(platform::kRunIdVariable, given, sizeof given)) return;
    bool valid = std::strlen(given) == sizeof g_runId - 1;
    for (const char* c = given; valid && *c != '\0'; ++c) valid = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f');
    if (valid)
        std::memcpy(g_runId, given, sizeof g_runId);
    else
        platform::WriteStandardError("journal: BRENNICK_RUN is not a run id of 16 hexadecimal digits: the run "
                                     "keeps its own");
}

void AddField(JsonLine* j, const char* key, const char* field, std::size_t width)
{
    std::size_t n = FieldTextLength(field, width);
    if (n > 0) AddMasked(j, key, field, n);
}

// The trace id is the register's text: masked as the switches are, since a
// "/t" inside it would be read as a card's track.
void AddTrace(JsonLine* j, const char* key, const char* traceId, std::size_t traceSize)
{
    std::size_t t = FieldTextLength(traceId, traceSize);
    if (t == 0) return;
    static char trace[kArgumentLimit];
    std::copy_n(traceId, t, g_masked);
    g_masked[t] = '\0';
    bool ignored = false;
    JsonText(j, key, trace, MaskArguments(g_masked, nullptr, 0, trace, sizeof trace, &ignored));
}

void AddResult(JsonLine* j, const UserAuthInt* r)
{
    JsonOpen(j, "result", '{');
    AddField(j, "RC", r->responseCode, sizeof r->responseCode);
    AddField(j, "TEXT_MSG", r->text_msg, sizeof r->text_msg);
    AddField(j, "AUTH_CODE", r->authCode, sizeof r->authCode);
    AddField(j, "RRN", r->rrn, sizeof r->rrn);
    std::size_t size = 0;
    const char* amount = AmountWithoutLeadingZeros(r->amount, sizeof r->amount, &size);
    AddField(j, "AMOUNT", amount, size);
    AddField(j, "CURRENCY", r->currency, sizeof r->currency);
    AddField(j, "CARD_TYPE", r->cardType, sizeof r->cardType);
    AddField(j, "TID", r->terminalID, sizeof r->terminalID);
    char pan[sizeof r->pan];
    std::size_t n = FieldTextLength(r->pan, sizeof r->pan);
    MaskPan(r->pan, n, pan);
    AddField(j, "PAN", pan, n);
    // What identifies the operation on the terminal: the register's trace id
    // as the terminal gives it back (the last operation's, for one), the
    // operation and the terminal's date and time.
    AddTrace(j, "TRACE_ID", r->TraceID, sizeof r->TraceID);
    // A text like every value of the result, which its readers take as texts.
    char operation[11];
    std::size_t digits = 0;
    for (std::uint32_t v = GetU32(r->operType); digits == 0 || v != 0; v /= 10) operation[digits++] = static_cast<char>('0' + v % 10);
    std::reverse(operation, operation + digits);
    JsonText(j, "OPERATION", operation, digits);
    AddField(j, "DATE", r->date, sizeof r->date);
    AddField(j, "TIME", r->time, sizeof r->time);
    AddField(j, "ORIGINAL_DATE_TIME", r->OriginalDateTime, sizeof r->OriginalDateTime);
    JsonClose(j, '}');
}

void AddWritten(JsonLine* j, const ResultFiles* files)
{
    JsonOpen(j, "written", '{');
    for (int i = 0; i < kResultFileCount; ++i) {
        if (files->fileError[i] == 0)
            JsonText(j, files->path[i], "ok");
        else
            JsonNumber(j, files->path[i], static_cast<long long>(files->fileError[i]));
    }
    JsonClose(j, '}');
}

void BuildEnd(JsonLine* j, const RunEnd& end, bool withSlip)
{
    BeginLine(j, "end");
    JsonText(j, "outcome", end.outcome);
    JsonNumber(j, "exit", end.exitCode);
    if (end.box != nullptr) AddMasked(j, "box", end.box);
    if (end.unattended) JsonTrue(j, "unattended");
    if (end.flushUnsupported) JsonFalse(j, "durable");
    if (end.hasError) {
        JsonOpen(j, "error", '{');
        JsonNumber(j, "code", static_cast<long long>(end.errorCode));
        AddMasked(j, "detail", end.errorDetail ? end.errorDetail : "");
        JsonClose(j, '}');
    }
    if (end.called) {
        if (end.returnedNormally) JsonNumber(j, "returned", end.returned);
        JsonNumber(j, "ms", static_cast<long long>(end.milliseconds));
        if (end.fault != nullptr) JsonText(j, "fault", end.fault);
        if (end.record != nullptr) AddResult(j, end.record);
        if (end.files != nullptr) AddWritten(j, end.files);
        if (withSlip && end.record != nullptr)
            AddField(j, "data_to_print", end.record->data_to_print, sizeof end.record->data_to_print);
    }
}

}  // namespace

std::size_t MaskArguments(const char* text, const TextSpan* spans, int spanCount, char* out,
                          std::size_t limit, bool* truncated)
{
    std::size_t n = std::strlen(text);
    *truncated = n > limit;
    if (n > limit) n = limit;
    std::copy_n(text, n, out);   // a length, not a terminated text
    // Every occurrence: a switch may stand inside another value.
    for (const char* name : {"/t", "/e"}) {
        for (const char* at = std::strstr(text, name); at != nullptr; at = std::strstr(at + 1, name)) {
            std::size_t start = static_cast<std::size_t>(at - text) + 2;
            std::size_t end = start + std::strcspn(text + start, " ");
            for (std::size_t i = start; i < end && i < n; ++i) out[i] = '*';
        }
    }
    // Text that no switch takes may be the rest of a card number that a
    // blank cut off its switch: "/tM4111 1111 1111 1111=2812?".
    if (spans != nullptr) {
        for (std::size_t i = 0; i < n; ++i) {
            bool loose = true;
            for (int s = 0; s < spanCount && loose; ++s) loose = i < spans[s].start || i >= spans[s].end;
            if (loose && out[i] >= '0' && out[i] <= '9') out[i] = '*';
        }
    }
    MaskCardNumbers(out, n);
    return n;
}

std::size_t JournalLineLimit()
{
    return kLineSize;
}

void BeginJournalRun()
{
    unsigned char random[8] = {};
    if (!platform::RandomBytes(random, sizeof random)) {
        // Without the system's source: time and process, still unlikely to meet.
        unsigned long long mix = platform::MonotonicMilliseconds() * 0x9E3779B97F4A7C15ULL ^
                                 platform::ProcessId();
        for (unsigned char& b : random) b = static_cast<unsigned char>(mix >>= 8);
    }
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < sizeof random; ++i) {
        g_runId[2 * i] = hex[random[i] >> 4];
        g_runId[2 * i + 1] = hex[random[i] & 15];
    }
    g_runId[16] = '\0';
}

void OpenJournal()
{
    g_report = platform::OpenReportChannel();
    if (g_report != platform::kNoFile) TakeGivenRunId();
    if (g_journalFolder[0] == '\0') return;
    platform::LocalTime t = platform::LocalNow();
    char name[] = "brennick-YYYYMMDD.jsonl";
    PutDigits(name + 9, t.year, 4);
    PutDigits(name + 13, t.month, 2);
    PutDigits(name + 15, t.day, 2);
    ComposeResultPath(g_journalPath, g_journalFolder, name, platform::kPathSeparator);
    if (platform::OpenForAppend(g_journalPath, &g_journal)) return;
    g_journal = platform::kNoFile;
    // The payment matters more than its journal, but somebody must know.
    unsigned long code = platform::LastErrorCode();
    char reason[256];
    platform::DescribeError(code, reason, sizeof reason);
    static char line[kResultPathSize + 300];
    std::snprintf(line, sizeof line, "journal: cannot append to %s: %s", g_journalPath, reason);
    platform::WriteStandardError(line);
}

const char* JournalFilePath()
{
    return g_journalPath;
}

bool JournalCall(const char* argumentText, const TextSpan* spans, int spanCount,
                 const char* traceId, std::size_t traceSize, unsigned long* errorCode,
                 bool* flushUnsupported)
{
    if (g_journal == platform::kNoFile && g_report == platform::kNoFile) return true;
    static char masked[kArgumentLimit];
    bool truncated = false;
    std::size_t n = MaskArguments(argumentText, spans, spanCount, masked, sizeof masked, &truncated);
    JsonLine j;
    BeginLine(&j, "call");
    JsonText(&j, "version", BRENNICK_VERSION);
    JsonText(&j, "args", masked, n);
    if (truncated) JsonTrue(&j, "args_truncated");
    // The register's own reference, to find its run by.
    AddTrace(&j, "trace", traceId, traceSize);
    JsonText(&j, "library", g_libraryPath);
    JsonOpen(&j, "files", '[');
    for (const char* path : {g_outputDatPath, g_outputExDatPath, g_outputExTxtPath})
        JsonText(&j, nullptr, path);
    JsonClose(&j, ']');
    // The one proof that the library was entered survives a power cut; the
    // one who started the run hears of it once it is on disk, and where it
    // cannot be put there, the library is not entered at all.
    std::size_t size = JsonEnd(&j);
    if (size == 0) return true;
    if (g_journal != platform::kNoFile) {
        if (!platform::AppendLine(g_journal, g_line, size)) {
            *errorCode = platform::LastErrorCode();
            return false;
        }
        platform::FlushResult flushed = platform::FlushFileChecked(g_journal, errorCode);
        if (flushed == platform::FlushResult::kFailed) return false;
        if (flushed == platform::FlushResult::kUnsupported) *flushUnsupported = true;
    }
    Report(size);
    return true;
}

void JournalEnd(const RunEnd& end)
{
    JsonLine j;
    unsigned long ignored;
    if (g_journal != platform::kNoFile) {
        BuildEnd(&j, end, false);
        WriteLine(&j, kJournal);
        platform::CloseFile(g_journal, &ignored);
        g_journal = platform::kNoFile;
    }
    if (g_report != platform::kNoFile) {
        // The one who started the run prints the slip; the journal keeps none.
        BuildEnd(&j, end, true);
        WriteLine(&j, kReport);
        if (g_report != platform::kNoFile) platform::CloseFile(g_report, &ignored);
        g_report = platform::kNoFile;
    }
}
