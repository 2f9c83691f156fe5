// ZipArchive beside Info-ZIP: zips a folder of 5,000 files in 500 folders
// as the app's zip does (the folder with its tree, links as links) beside
// `zip -r -y`, unzips 70,000 small entries on tmpfs beside `unzip -q`, and
// one entry of 4 GiB beside `unzip`, and zips the small files beside `zip -r`. Prints min, median and max of the rounds and the
// ratio of the medians (ZipArchive / Info-ZIP; the target is at most 1.0).
// Usage: zip_bench [rounds (3)] [folder for the small files (/dev/shm)] [folder for the big entry (temp folder)]

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

struct Row {
    std::string what;
    std::vector<double> ours;
    std::vector<double> infoZip;
};

double seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Both sides in turn each round, each after `prepare`.
Row measure(const std::string& what, int rounds, const std::function<void()>& prepare, const std::function<void()>& ours,
    const std::function<void()>& infoZip)
{
    Row row { what, {}, {} };
    for (int round = 0; round < rounds; ++round) {
        prepare();
        row.ours.push_back(seconds(ours));
        prepare();
        row.infoZip.push_back(seconds(infoZip));
    }
    prepare();
    return row;
}

void unzipOrStop(const fs::path& archive, const fs::path& out)
{
    if (!ZipArchive::unzipFileAtPath(archive.string(), out.string())) {
        std::fprintf(stderr, "unzip through ZipArchive failed: %s\n", archive.c_str());
        std::exit(1);
    }
}

}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    fs::path smallWork = (argc > 2 ? fs::path(argv[2]) : fs::path("/dev/shm")) / "vesk-zip-bench";
    fs::path bigWork = (argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path()) / "vesk-zip-bench-big";
    if (std::system("command -v zip >/dev/null && command -v unzip >/dev/null") != 0) {
        std::fprintf(stderr, "zip_bench needs Info-ZIP zip and unzip\n");
        return 1;
    }
    for (const auto& work : { smallWork, bigWork }) {
        fs::remove_all(work);
        fs::create_directories(work);
    }
    std::vector<Row> rows;
    TextMaker maker;

    // 5,000 files of 100 to 8,000 bytes, ten to a folder, in 500 folders of a tree five deep.
    fs::path tree = smallWork / "tree";
    {
        std::mt19937 treeSizes(11);
        std::uniform_int_distribution<std::size_t> treeSizeOf(100, 8000);
        for (int i = 0; i < 5000; ++i) {
            int folder = i / 10;
            fs::path file = tree / ("group" + std::to_string(folder / 100)) / ("part" + std::to_string(folder / 20 % 5)) / ("folder" + std::to_string(folder)) / ("file" + std::to_string(i) + ".txt");
            fs::create_directories(file.parent_path());
            std::ofstream(file, std::ios::binary) << maker.make(treeSizeOf(treeSizes));
        }
    }
    fs::path treeArchive = smallWork / "tree-ours.zip";
    fs::path treeInfoZip = smallWork / "tree-info-zip.zip";
    rows.push_back(measure(
        "zip 5,000 files, 500 folders", rounds, [&] { fs::remove(treeArchive); fs::remove(treeInfoZip); },
        [&] {
            if (!ZipArchive::createZipFileAtPath(treeArchive.string(), std::vector<std::string> { tree.string() })) {
                std::fprintf(stderr, "zip through ZipArchive failed\n");
                std::exit(1);
            }
        },
        [&] { runShell("cd " + shellQuoted(smallWork.string()) + " && zip -qry " + shellQuoted(treeInfoZip.string()) + " tree"); }));
    std::printf("%s: ZipArchive / zip -r -y = %.2fx\n", rows.back().what.c_str(), median(rows.back().ours) / median(rows.back().infoZip));
    std::fflush(stdout);
    fs::remove_all(tree);

    // 70,000 files of 100 to 2,000 bytes in 140 folders.
    fs::path small = smallWork / "small";
    std::mt19937 sizes(7);
    std::uniform_int_distribution<std::size_t> sizeOf(100, 2000);
    for (int i = 0; i < 70000; ++i) {
        fs::path file = small / ("dir" + std::to_string(i / 500)) / ("file" + std::to_string(i) + ".txt");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << maker.make(sizeOf(sizes));
    }
    fs::path smallArchive = smallWork / "small.zip";
    fs::path ourArchive = smallWork / "ours.zip";
    fs::path out = smallWork / "out";
    rows.push_back(measure(
        "zip 70,000 small files", rounds, [&] { fs::remove(smallArchive); fs::remove(ourArchive); },
        [&] { ZipArchive::createZipFileAtPath(ourArchive.string(), small.string()); },
        [&] { runShell("cd " + shellQuoted(small.string()) + " && zip -qr " + shellQuoted(smallArchive.string()) + " ."); }));
    runShell("cd " + shellQuoted(small.string()) + " && zip -qr " + shellQuoted(smallArchive.string()) + " .");
    rows.push_back(measure(
        "unzip 70,000 small files", rounds, [&] { fs::remove_all(out); }, [&] { unzipOrStop(smallArchive, out); },
        [&] { runShell("unzip -q " + shellQuoted(smallArchive.string()) + " -d " + shellQuoted(out.string())); }));
    fs::remove_all(smallWork);

    // One file of 4 GiB and a byte: a block of text over and over.
    fs::path big = bigWork / "big.txt";
    {
        std::string block = maker.make(1 << 20);
        std::ofstream file(big, std::ios::binary);
        for (int i = 0; i < 4096; ++i)
            file << block;
        file << '\n';
    }
    fs::path bigArchive = bigWork / "big.zip";
    runShell("cd " + shellQuoted(bigWork.string()) + " && zip -q -1 big.zip big.txt");
    fs::remove(big);
    fs::path bigOut = bigWork / "out";
    rows.push_back(measure(
        "unzip one 4 GiB entry", rounds, [&] { fs::remove_all(bigOut); }, [&] { unzipOrStop(bigArchive, bigOut); },
        [&] { runShell("unzip -q " + shellQuoted(bigArchive.string()) + " -d " + shellQuoted(bigOut.string())); }));
    fs::remove_all(bigWork);

    std::printf("\n%d rounds, seconds          ZipArchive min / median / max    Info-ZIP min / median / max    ZipArchive / Info-ZIP\n", rounds);
    for (const auto& row : rows) {
        auto [ourMin, ourMax] = std::minmax_element(row.ours.begin(), row.ours.end());
        auto [theirMin, theirMax] = std::minmax_element(row.infoZip.begin(), row.infoZip.end());
        std::printf("%-28s %8.3f / %6.3f / %6.3f      %8.3f / %6.3f / %6.3f    %8.2fx\n", row.what.c_str(), *ourMin, median(row.ours),
            *ourMax, *theirMin, median(row.infoZip), *theirMax, median(row.ours) / median(row.infoZip));
    }
    return 0;
}
