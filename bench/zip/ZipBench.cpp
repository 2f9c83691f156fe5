// Zips and unzips a folder of 10,000 small files and one 100 MB file through
// ZipArchive and through Info-ZIP zip/unzip, and prints times and ratios.
// Usage: zip_bench [repetitions] [work folder]

#include "model/ZipArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vesk::ZipArchive;

namespace {

std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void runShell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Text-like content: words from a fixed vocabulary and numbers, so that it
// compresses about as well as ordinary documents and logs.
class TextMaker {
public:
    TextMaker()
        : m_random(20261206)
    {
        std::uniform_int_distribution<int> length(2, 9);
        std::uniform_int_distribution<int> letter('a', 'z');
        for (int i = 0; i < 5000; ++i) {
            std::string word;
            for (int n = length(m_random); n > 0; --n)
                word += static_cast<char>(letter(m_random));
            m_words.push_back(word);
        }
    }

    std::string make(std::size_t size)
    {
        std::string text;
        text.reserve(size + 128);
        std::uniform_int_distribution<std::size_t> pick(0, m_words.size() - 1);
        std::uniform_int_distribution<unsigned> number(0, 999999999);
        while (text.size() < size) {
            for (int i = 0; i < 12; ++i) {
                text += m_words[pick(m_random)];
                text += ' ';
            }
            text += std::to_string(number(m_random));
            text += '\n';
        }
        text.resize(size);
        return text;
    }

private:
    std::mt19937_64 m_random;
    std::vector<std::string> m_words;
};

double bestOf(int repetitions, const std::function<void()>& prepare, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        prepare();
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

struct Row {
    std::string what;
    double ours;
    double infoZip;
};

}

int main(int argc, char** argv)
{
    int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "vesk-zip-bench";
    if (std::system("command -v zip >/dev/null && command -v unzip >/dev/null") != 0) {
        std::fprintf(stderr, "zip_bench needs Info-ZIP zip and unzip\n");
        return 1;
    }
    fs::remove_all(work);
    fs::create_directories(work);

    TextMaker maker;
    fs::path small = work / "small";
    std::mt19937 sizes(7);
    std::uniform_int_distribution<std::size_t> sizeOf(100, 4000);
    for (int i = 0; i < 10000; ++i) {
        fs::path file = small / ("dir" + std::to_string(i / 100)) / ("file" + std::to_string(i) + ".txt");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << maker.make(sizeOf(sizes));
    }
    fs::path big = work / "big" / "big.txt";
    fs::create_directories(big.parent_path());
    {
        std::ofstream out(big, std::ios::binary);
        for (int chunk = 0; chunk < 100; ++chunk)
            out << maker.make(1024 * 1024);
    }

    std::vector<Row> rows;
    auto measure = [&](const std::string& name, const std::function<void(const fs::path&)>& ourZip,
                       const std::string& infoZipArguments, const fs::path& sourceFolder) {
        fs::path ours = work / (name + "-ours.zip");
        fs::path theirs = work / (name + "-infozip.zip");
        fs::path out = work / "out";
        auto removeArchives = [&] {
            fs::remove(ours);
            fs::remove(theirs);
        };
        double zipOurs = bestOf(repetitions, removeArchives, [&] { ourZip(ours); });
        double zipTheirs = bestOf(repetitions, removeArchives, [&] {
            runShell("cd " + shellQuoted(sourceFolder.string()) + " && zip -q " + infoZipArguments + " " + shellQuoted(theirs.string()) + " " + (infoZipArguments == "-r" ? "." : "big.txt"));
        });
        rows.push_back({ "zip " + name, zipOurs, zipTheirs });
        if (!fs::exists(ours))
            ourZip(ours);
        // Both extract the same Info-ZIP archive into a fresh folder.
        auto clean = [&] { fs::remove_all(out); };
        double unzipOurs = bestOf(repetitions, clean, [&] {
            if (!ZipArchive::unzipFileAtPath(theirs.string(), out.string()))
                std::fprintf(stderr, "unzip through ZipArchive failed\n");
        });
        double unzipTheirs = bestOf(repetitions, clean, [&] {
            runShell("unzip -q -o " + shellQuoted(theirs.string()) + " -d " + shellQuoted(out.string()));
        });
        rows.push_back({ "unzip " + name, unzipOurs, unzipTheirs });
        std::printf("%s: archive sizes %ju (ZipArchive) and %ju (Info-ZIP) bytes\n", name.c_str(),
            static_cast<std::uintmax_t>(fs::file_size(ours)), static_cast<std::uintmax_t>(fs::file_size(theirs)));
        clean();
        removeArchives();
    };

    measure(
        "10000 small files", [&](const fs::path& archive) { ZipArchive::createZipFileAtPath(archive.string(), small.string()); }, "-r", small);
    measure(
        "one 100 MB file", [&](const fs::path& archive) { ZipArchive::createZipFileAtPath(archive.string(), std::vector<std::string> { big.string() }); }, "", big.parent_path());

    std::printf("\nbest of %d runs        ZipArchive   Info-ZIP   Info-ZIP / ZipArchive\n", repetitions);
    for (const auto& row : rows)
        std::printf("%-24s %8.3f s %8.3f s %10.2fx\n", row.what.c_str(), row.ours, row.infoZip, row.infoZip / row.ours);
    fs::remove_all(work);
    return 0;
}
