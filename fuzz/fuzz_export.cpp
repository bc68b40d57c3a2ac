// ExportResults and FormatRecordDump on arbitrary records: output.dat has exactly
// eleven separators plus the line feeds inside the values, and the dump has
// 26 lines plus the line feeds inside the printed fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "export/record_dump.h"
#include "export/result_lists.h"

namespace {

void Check(bool ok)
{
    if (!ok) std::abort();
}

std::size_t Count(const std::string& s, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

std::size_t LineFeedsInText(const char* field, std::size_t width)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < width && field[i] != '\0'; ++i) n += field[i] == '\n';
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static UserAuthInt record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, data, size < sizeof record ? size : sizeof record);

    // The files' bytes are formed in memory; no file is needed.
    g_resultList.count = 0;
    g_keyedResultList.count = 0;
    ResultFiles none;
    for (platform::FileHandle& h : none.handle) h = platform::kNoFile;
    ExportResults(&record, &none);

    std::size_t valueLineFeeds = 0;
    for (std::size_t i = 0; i < g_resultList.count; ++i)
        valueLineFeeds += LineFeedsInText(g_resultList.entries[i].bytes, g_resultList.entries[i].length);
    static char formed[kResultListFileSize];
    std::string dat(formed, FormatResultList(g_resultList, formed));
    Check(Count(dat, "\r\n") == 11 + valueLineFeeds);
    Check(Count(dat, "\n") == Count(dat, "\r\n"));

    static char dump[kRecordDumpSize];
    std::string text(dump, FormatRecordDump(&record, dump));
    std::size_t dumpLineFeeds = 0;
    const auto* bytes = reinterpret_cast<const char*>(&record);
    // The 23 text fields of the dump, by offset and width.
    const std::size_t texts[][2] = {{12, 60},  {72, 20},  {92, 5},   {97, 20},  {117, 80},
                                    {197, 13}, {210, 13}, {223, 4},  {227, 9},  {236, 13},
                                    {249, 9},  {258, 4},  {262, 80}, {342, 7},  {349, 7},
                                    {356, 50}, {406, 50}, {456, 50}, {666, 80}, {746, 80},
                                    {826, 80}, {1167, 64}, {1470, 61}};
    for (const auto& t : texts) dumpLineFeeds += LineFeedsInText(bytes + t[0], t[1]);
    Check(Count(text, "\n") == 26 + dumpLineFeeds);
    return 0;
}
