// Writes a module's "ELDATA" resource from its first link: the DWARF line rows
// (objdump --dwarf=decodedline) and the code symbols (nm -n -C) of that link,
// and the reporter's options of the module (key=value over the defaults).
//   ELDataWriter --lines FILE --symbols FILE --image-base HEX --options FILE --out FILE
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EEncrypt.h"
#include "crashreport/core/debuginfo/EDebugData.h"
#include "crashreport/core/debuginfo/EDebugWriter.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"

using namespace kv::crashreport;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trim(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.pop_back();
    std::size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

} // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> args;
    for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
    for (const char* required : {"--lines", "--symbols", "--image-base", "--options", "--out"})
        if (!args.count(required)) {
            std::fprintf(stderr, "ELDataWriter: %s missing\n", required);
            return 2;
        }
    try {
        const std::uint32_t imageBase = static_cast<std::uint32_t>(std::strtoul(args["--image-base"].c_str(), nullptr, 16));
        const std::vector<LineRow> rows = ParseDecodedLines(ReadFile(args["--lines"]));
        const std::vector<CodeSymbol> symbols = ParseSymbols(ReadFile(args["--symbols"]));

        WriterSettings settings;
        TOspreyModuleOptions options("");
        std::istringstream optionsText(ReadFile(args["--options"]));
        std::string line;
        int number = 0;
        while (std::getline(optionsText, line)) {
            ++number;
            line = Trim(line);
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos) throw std::runtime_error("options line " + std::to_string(number) + ": no '='");
            const std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
            if (!ApplyWriterSetting(settings, options, key, value))
                throw std::runtime_error("options line " + std::to_string(number) + ": unknown key " + key);
        }

        ELDataContents contents;
        contents.CompilationDate = kv::Now();
        contents.LeakOptions = settings.LeakOptions;
        contents.LeaksFromMainModule = settings.LeaksFromMainModule;
        contents.Password = settings.Password;
        kv::MemoryStream stream;
        options.SaveToStream(stream);
        contents.OptionsStream = stream.Data();
        WriterStatistics statistics;
        // Names are enciphered under the module's password as they are encoded.
        TEASetKey(settings.Password);
        const std::vector<DebugUnit> units = BuildDebugUnits(rows, symbols, imageBase, &statistics);
        contents.DebugInformation = BuildDebugInformation(units, ELDataVersion);
        const std::string resource = BuildELDataResource(contents);

        std::ofstream out(args["--out"], std::ios::binary);
        out.write(resource.data(), static_cast<std::streamsize>(resource.size()));
        if (!out) throw std::runtime_error("cannot write " + args["--out"]);
        std::printf("ELDataWriter: %u rows, %u procedures, %u units, %u bytes\n", unsigned(rows.size()),
                    unsigned(statistics.Procedures), unsigned(units.size()), unsigned(resource.size()));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ELDataWriter: %s\n", error.what());
        return 1;
    }
}
