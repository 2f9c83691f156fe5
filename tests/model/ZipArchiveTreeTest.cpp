#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

#include <gmock/gmock.h>
#include <set>

using namespace vesk;
using namespace vesk::ziptest;
using ::testing::IsSupersetOf;

namespace {

mode_t creationMask()
{
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

const ArchiveEntry* entryNamed(const std::vector<ArchiveEntry>& entries, const std::string& name)
{
    auto found = std::find_if(entries.begin(), entries.end(), [&](auto& entry) { return entry.name == name; });
    return found == entries.end() ? nullptr : &*found;
}

class ZipArchiveTreeTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string tree = folder / "tree";
    std::string archive = folder / "Archive.zip";
};

TEST_F(ZipArchiveTreeTest, AFolderComesBackWholeThroughOurUnzipAndThroughInfoZip)
{
    makeTestTree(tree);
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { tree }));

    auto entries = listArchive(archive);
    std::set<std::string> names;
    for (auto& entry : entries)
        names.insert(entry.name);
    EXPECT_EQ(names.size(), entries.size()) << "no name twice";
    EXPECT_THAT(names, IsSupersetOf({ "tree/", "tree/a.txt", "tree/docs/a.txt", "tree/docs/notes/a.txt", "tree/empty/", "tree/outer/inner/", "tree/caf\xe9.txt", "tree/secret/" }));
    EXPECT_EQ(names.count("tree/link-out/bin/"), 0u) << "a link is not followed";
    auto* link = entryNamed(entries, "tree/link-out");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->externalAttributes >> 16 & 0170000, 0120000u);
    EXPECT_EQ(link->content, "/usr");
    EXPECT_EQ(entryNamed(entries, "tree/caf\xe9.txt")->flag & 0x800, 0u) << "not UTF-8, so not marked as such";
    EXPECT_EQ(entryNamed(entries, "tree/docs/a.txt")->flag & 0x800, 0u);

    std::string quoted = shellQuoted(archive);
    EXPECT_EQ(run("unzip -tq " + quoted + " >/dev/null"), 0);
    EXPECT_EQ(run("unzip -Z " + quoted + " | grep -q '^lrwxrwxrwx .* tree/link-out$'"), 0);
    EXPECT_EQ(run("unzip -Z " + quoted + " | grep -q '^drwx------ .* tree/secret/$'"), 0);
    EXPECT_EQ(run("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); sys.exit(z.testzip() is not None or len(z.namelist()) != " + std::to_string(entries.size()) + ")' " + quoted), 0);

    // As an ordinary user, whom the read-only folder would stop if its mode came first. Our
    // unzip writes links as plain files holding their targets.
    std::string ours = folder / "ours";
    EXPECT_TRUE(runUnprivileged(folder.path(), [&] { return ZipArchive::unzipFileAtPath(archive, ours); }));
    mode_t linkFile = 0666 & ~creationMask();
    EXPECT_EQ(treeOf(ours + "/tree", linkFile), treeOf(tree, linkFile));

    std::string infoZip = folder / "info-zip";
    fs::create_directories(infoZip);
    ASSERT_EQ(run("cd " + shellQuoted(infoZip) + " && unzip -q " + quoted), 0);
    EXPECT_EQ(treeOf(infoZip + "/tree"), treeOf(tree)) << "links included";
}

TEST_F(ZipArchiveTreeTest, WhatCannotBeAddedFailsTheZipAndNoNameIsWrittenTwice)
{
    makeTestTree(tree);
    ASSERT_EQ(::mkfifo((tree + "/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { tree }));
    auto names = entryNames(archive);
    EXPECT_THAT(names, IsSupersetOf({ "tree/a.txt", "tree/docs/a.txt", "tree/link-out" }));
    EXPECT_EQ(std::count(names.begin(), names.end(), "tree/pipe"), 0);

    EXPECT_FALSE(ZipArchive::createZipFileAtPath(archive, { tree + "/a.txt", tree + "/docs/a.txt" }));
    auto entries = listArchive(archive);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name + ":" + entries[0].content, "a.txt:top a\n");

    std::string other = folder / "other";
    writeText(other + "/readable.txt", "r");
    writeText(other + "/closed.txt", "c");
    writeText(other + "/shut/inside.txt", "i");
    ::chmod((other + "/closed.txt").c_str(), 0);
    ::chmod((other + "/shut").c_str(), 0);
    EXPECT_TRUE(runUnprivileged(folder.path(), [&] {
        return !ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { other }) && entryNames(archive) == std::vector<std::string> { "other/", "other/readable.txt", "other/shut/" };
    }));
    ::chmod((other + "/closed.txt").c_str(), 0600);
    EXPECT_FALSE(runUnprivileged(folder.path(), [&] { return ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { other }); })) << "the folder that cannot be listed alone fails it";
}

TEST_F(ZipArchiveTreeTest, UnzipKeepsWhatIsThereAndTakesTimesInUtc)
{
    makeTestTree(tree);
    // Made five hours west, unzipped nine hours east: the extended timestamp carries the time.
    ASSERT_TRUE(inTimeZone("EST5", [&] { return ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { tree }); }));
    std::string infoZipArchive = folder / "info-zip.zip";
    ASSERT_EQ(run("cd " + shellQuoted(folder.path()) + " && TZ=EST5 zip -qry " + shellQuoted(infoZipArchive) + " tree"), 0);
    for (auto& made : { archive, infoZipArchive }) {
        SCOPED_TRACE(made);
        std::string out = made + ".out";
        EXPECT_TRUE(inTimeZone("JST-9", [&] { return ZipArchive::unzipFileAtPath(made, out, false, std::nullopt, nullptr); }));
        for (auto name : { "/a.txt", "/docs/notes/a.txt", "/docs", "/secret", "" })
            EXPECT_EQ(modificationTime(out + "/tree" + name), modificationTime(tree + name)) << name;
    }

    // A folder that was there keeps its mode and date; a file with other contents stays, and
    // the run fails for the entry left out.
    std::string out = folder / "existing";
    writeText(out + "/tree/secret/key.txt", "someone else's key");
    writeText(out + "/tree/docs/a.txt", "docs a\n");
    ::chmod((out + "/tree/secret").c_str(), 0755);
    time_t secretTime = modificationTime(out + "/tree/secret");
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(archive, out, false, std::nullopt, nullptr));
    EXPECT_EQ(readText(out + "/tree/secret/key.txt"), "someone else's key");
    EXPECT_EQ(permissions(out + "/tree/secret"), 0755u);
    EXPECT_EQ(modificationTime(out + "/tree/secret"), secretTime);
    EXPECT_EQ(readText(out + "/tree/readonly/kept.txt"), "kept\n") << "the other entries are written";
    EXPECT_EQ(permissions(out + "/tree/readonly"), 0555u);

    // A file where the archive has a folder: the folder is missing, and so is the success.
    std::string blocked = folder / "blocked";
    writeText(blocked + "/tree/empty", "a file");
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(archive, blocked, false, std::nullopt, nullptr));
    EXPECT_EQ(readText(blocked + "/tree/empty"), "a file");

    // The same archive again over its own result: every file already holds its entry.
    std::string again = folder / "again";
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, again, false, std::nullopt, nullptr));
    EXPECT_TRUE(ZipArchive::unzipFileAtPath(archive, again, false, std::nullopt, nullptr));
    EXPECT_EQ(readText(again + "/tree/link-in"), "docs/a.txt");
}

}
