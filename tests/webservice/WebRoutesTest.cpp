// The web services and the front end, asked of the real `vesk` program over loopback.

#include "WebRouteTestSupport.h"

#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"

#include <gmock/gmock.h>

#include <functional>
#include <set>
#include <sys/stat.h>
#include <zlib.h>

namespace vesk::test {
namespace {

    using platform::Value;
    using ::testing::HasSubstr;

    std::string binaryBytes()
    {
        std::string bytes;
        for (int round = 0; round < 3; ++round) {
            for (int value = 0; value < 256; ++value)
                bytes += static_cast<char>(value);
            bytes += std::string(7, '\0');
        }
        return bytes;
    }

    // Escapes the bytes outside ASCII, and spaces.
    std::string percentEncoded(const std::string& text)
    {
        std::string out;
        for (unsigned char c : text) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            out += c < 0x80 && c != ' ' ? std::string(1, static_cast<char>(c)) : escape;
        }
        return out;
    }

    // Width and height of a PNG from its header.
    std::pair<int, int> pngSize(const std::string& png)
    {
        if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
            return { 0, 0 };
        auto be = [&](size_t at) {
            return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16)
                | (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
        };
        return { be(16), be(20) };
    }

    // A black picture of 8,192 x 4,608 pixels in a few kilobytes: one bit each.
    std::string hugePNG()
    {
        auto chunk = [](const std::string& type, const std::string& data) {
            std::string body = type + data;
            auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
            auto be = [](uLong n) { return std::string { char(n >> 24), char(n >> 16), char(n >> 8), char(n) }; };
            return be(data.size()) + body + be(crc);
        };
        std::string rows(4608 * 1025, '\0'), packed(::compressBound(rows.size()), '\0');
        auto length = static_cast<uLongf>(packed.size());
        ::compress(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(rows.data()), rows.size());
        return "\x89PNG\r\n\x1a\n" + chunk("IHDR", std::string("\0\0\x20\0\0\0\x12\0\x01\0\0\0\0", 13)) + chunk("IDAT", packed.substr(0, length)) + chunk("IEND", "");
    }

    std::string decodedBase64(const Value& text)
    {
        if (!text.string())
            return "<not a string>";
        auto bytes = platform::base64Decode(*text.string());
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<not base64>";
    }

    std::set<std::string> stringsOf(const Value& array)
    {
        std::set<std::string> out;
        if (auto* items = array.array())
            for (auto& item : *items)
                out.insert(item.string() ? *item.string() : "<not a string>");
        return out;
    }

    // One home and one program per suite; the settings are written before the program starts.
    class ServedTree {
    public:
        void make(const std::function<void()>& settings, const std::function<void(const std::string& root)>& bundle = {})
        {
            char pattern[] = "/tmp/vesk-routes-XXXXXX";
            char* made = ::mkdtemp(pattern);
            ASSERT_NE(made, nullptr);
            root = made;
            home = root + "/home";
            files = root + "/files";
            ASSERT_EQ(::mkdir(files.c_str(), 0755), 0);
            ASSERT_EQ(::mkdir((files + "/sub").c_str(), 0755), 0);
            writeBytes(files + "/sub/a.txt", "a");
            ASSERT_EQ(::mkfifo((files + "/sub/pipe.png").c_str(), 0644), 0);
            writeBytes(files + "/binary.bin", binaryBytes());
            writeBytes(files + "/empty.txt", "");
            writeBytes(files + "/notes.txt", "hello");
            writeBytes(files + "/.hidden", "secret");
            writeBytes(files + "/broken.png", "no picture in here");
            writeBytes(files + "/huge.png", hugePNG());
            writeBytes(files + "/bad\xff\xfe name.txt", "odd");
            ASSERT_EQ(::mkfifo((files + "/pipe").c_str(), 0644), 0);
            writeBytes(files + "/big.bin", "");
            ASSERT_EQ(::truncate((files + "/big.bin").c_str(), 33 * 1024 * 1024), 0);
            platform::UIGraphicsBeginImageContextWithOptions(platform::CGSizeMake(160, 90), true, 1);
            auto picture = platform::UIGraphicsGetImageFromCurrentImageContext();
            platform::UIGraphicsEndImageContext();
            ASSERT_TRUE(picture && picture->writePNGToFile(files + "/picture.png"));
            // The permission texts asked of below, whatever the umask.
            ASSERT_EQ(::chmod(files.c_str(), 0755), 0);
            ASSERT_EQ(::chmod((files + "/notes.txt").c_str(), 0644), 0);

            // The settings go to the program's home, not this process's.
            ::setenv("VESK_HOME", home.c_str(), 1);
            platform::NSUserDefaults::resetStandardUserDefaults();
            settings();
            platform::NSUserDefaults::standardUserDefaults()->synchronize();
            ::unsetenv("VESK_HOME");
            platform::NSUserDefaults::resetStandardUserDefaults();
            std::string bundlePath;
            if (bundle) {
                bundlePath = root + "/bundle";
                bundle(bundlePath);
            }
            process.emplace(home, root, bundlePath);
            process->launch({ "--quick-action", "fileserver" });
            ASSERT_TRUE(process->waitUntilListening()) << process->errors();
        }

        void remove()
        {
            if (process) {
                EXPECT_EQ(process->stop(), 0) << process->errors();
            }
            platform::NSFileManager::defaultManager().removeItemAtPath(root);
        }

        HttpAnswer get(const std::string& target, const std::string& method = "GET") const { return httpGet(process->port, target, method); }

        std::string root, home, files;
        std::optional<VeskProcess> process;
    };

    class WebRoutes : public ::testing::Test {
    protected:
        static void SetUpTestSuite()
        {
            tree = new ServedTree;
            tree->make([] {
                Bookmarks bookmarks;
                bookmarks.save(VeskFile::initWithPath(tree->files + "/notes.txt"));
                bookmarks.save(VeskFile::initWithPath(tree->files + "/sub"));
                auto gone = tree->files + "/gone.txt";
                writeBytes(gone, "soon gone");
                bookmarks.save(VeskFile::initWithPath(gone));
                ::unlink(gone.c_str());
            });
        }
        static void TearDownTestSuite()
        {
            tree->remove();
            delete tree;
            tree = nullptr;
        }

        static HttpAnswer get(const std::string& target, const std::string& method = "GET") { return tree->get(target, method); }
        // The envelope of a GET, checked to travel as HTTP 200 JSON.
        static Value envelopeOf(const std::string& target, const std::string& method = "GET")
        {
            auto answer = get(target, method);
            EXPECT_EQ(answer.status, 200) << target;
            EXPECT_EQ(answer.headers["content-type"], "application/json") << target;
            auto envelope = answer.envelope();
            EXPECT_TRUE(envelope.dictionary()) << target << ": " << answer.body;
            return envelope;
        }
        static void expectOutcome(const Value& envelope, int code, const std::string& phrase, const std::string& message)
        {
            EXPECT_EQ(envelope["statuscode"].integerValue(), code) << message;
            EXPECT_EQ(envelope["statusmessage"], Value(phrase)) << message;
            EXPECT_EQ(envelope["message"], Value(message));
        }

        static ServedTree* tree;
    };
    ServedTree* WebRoutes::tree = nullptr;

    TEST_F(WebRoutes, FolderServicesAnswerTheirFolders)
    {
        auto doc = envelopeOf("/getDocDir");
        auto docDir = tree->home + "/Documents";
        expectOutcome(doc, 200, "OK", "Document directory is \"" + docDir + "\"");
        EXPECT_EQ(doc["info"], Value(platform::Dictionary { { "docDir", Value(docDir) } }));

        auto homeDir = envelopeOf("/getHomeDir");
        expectOutcome(homeDir, 200, "OK", "Home directory is \"/\"");
        EXPECT_EQ(homeDir["info"]["homeDir"], Value("/"));

        // The bookmark whose file is gone is dropped, the others keep their order.
        auto bookmarks = envelopeOf("/getBookmarks");
        expectOutcome(bookmarks, 200, "OK", "Got 2 bookmarks");
        EXPECT_EQ(bookmarks["info"]["bookmarks"], Value(platform::Array { Value(tree->files + "/notes.txt"), Value(tree->files + "/sub") }));

        auto debug = envelopeOf("/debug");
        expectOutcome(debug, 200, "OK", "This is doing nothing right now...");
        EXPECT_EQ(debug.dictionary()->size(), 3u) << "no info";
    }

    TEST_F(WebRoutes, EveryRouteRefusesAWrongMethodWithItsOwnWording)
    {
        struct Case {
            std::string target, method, message;
        };
        const std::vector<Case> cases {
            { "/getBookmarks", "POST", "\"POST\" is not supported, please use \"GET\"" },
            { "/getHomeDir", "put", "\"PUT\" is not supported, please use \"GET\"" },
            { "/getDocDir", "POST", "\"POST\" is not supported, please use \"GET\"" },
            { "/getFileInfo?path=/", "DELETE", "\"DELETE\" is not supported, please use \"GET\"" },
            { "/getIcon?path=/&type=raw", "POST", "\"POST\" is not supported, please use \"GET\"" },
            { "/getFile?path=/", "POST", "\"POST\" is not supported, please use GET" },
            { "/debug", "delete", "\"DELETE\" is not supported, please use GET" },
            { "/setFile", "GET", "\"GET\" is not supported, please use \"POST\"" },
            { "/", "OPTIONS", "\"OPTIONS\" is not supported, please use \"GET\"" },
            { "/main.css", "POST", "\"POST\" is not supported, please use \"GET\"" },
        };
        for (auto& c : cases) {
            auto envelope = envelopeOf(c.target, c.method);
            expectOutcome(envelope, 403, "Forbidden", c.message);
            EXPECT_TRUE(envelope["info"].isNull()) << c.target;
        }
        // Any case of the right method is accepted.
        expectOutcome(envelopeOf("/getDocDir", "get"), 200, "OK", "Document directory is \"" + tree->home + "/Documents\"");
        expectOutcome(envelopeOf("/debug", "Get"), 200, "OK", "This is doing nothing right now...");
    }

    TEST_F(WebRoutes, HeadOfEveryRouteIsTheHeadOfItsGetAlone)
    {
        const std::string targets[] = {
            "/getFile?path=" + tree->files + "/binary.bin&type=raw",
            "/getFile?path=" + tree->files + "/big.bin&type=raw",
            "/getFile?path=" + tree->files + "/notes.txt&type=base64",
            "/getFile?path=" + tree->files,
            "/getFileInfo?path=" + tree->files + "/notes.txt",
            "/getIcon?path=/&type=raw",
            "/getBookmarks",
            "/",
            "/main.css",
            "/favicon.ico",
            "/debug",
            "/nothing",
            "/setFile",
        };
        auto ask = [](const std::string& method, const std::string& target) { return method + " " + target + " HTTP/1.1\r\nConnection: keep-alive\r\n\r\n"; };
        // A HEAD and its GET on one kept connection, pair by pair, then all sent at once.
        for (bool pipelined : { false, true }) {
            Client client(tree->process->port);
            std::string all;
            for (auto& target : targets)
                all += ask("HEAD", target) + ask("GET", target);
            if (pipelined)
                client.send(all);
            for (auto& target : targets) {
                if (!pipelined)
                    client.send(ask("HEAD", target) + ask("GET", target));
                auto head = client.readHeadAnswer(std::chrono::seconds(20));
                auto get = client.readResponse(std::chrono::seconds(20));
                EXPECT_TRUE(head.starts_with("HTTP/1.1 ")) << target;
                // The same head, and its Content-Length is what the GET's body holds.
                EXPECT_EQ(get.substr(0, get.find("\r\n\r\n") + 4), head) << target;
                EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(get.size() - head.size()) + "\r\n"), std::string::npos) << target;
            }
        }
    }

    TEST_F(WebRoutes, SetFileStoresNothingAndAnswersByBodyAlone)
    {
        for (std::string extra : { "\r\n", "Content-Length: 0\r\n\r\n" }) {
            auto answer = httpExchange(tree->process->port, "POST /setFile?path=" + tree->files + "/written HTTP/1.1\r\nHost: x\r\n" + extra);
            EXPECT_EQ(answer.status, 200);
            expectOutcome(answer.envelope(), 403, "Forbidden", "It looks like the body is empty!");
        }
        auto answer = httpExchange(tree->process->port, "post /setFile HTTP/1.1\r\nContent-Length: 1\r\n\r\nx");
        EXPECT_EQ(answer.status, 501);
        EXPECT_EQ(answer.reason, "Not implemented");
        EXPECT_EQ(answer.headers["content-length"], "0");
        EXPECT_TRUE(answer.body.empty());
        EXPECT_FALSE(platform::NSFileManager::defaultManager().fileExistsAtPath(tree->files + "/written"));
    }

    TEST_F(WebRoutes, FileInfoDescribesFoldersAndFiles)
    {
        // A trailing slash is gone; hidden entries are not counted while the setting is off.
        auto folder = envelopeOf("/getFileInfo?path=" + tree->files + "/&name=ignored");
        expectOutcome(folder, 200, "OK", "Info for file or folder at path \"" + tree->files + "\"");
        auto info = folder["info"];
        EXPECT_EQ(info.dictionary()->size(), 9u);
        EXPECT_EQ(info["path"], Value(tree->files));
        EXPECT_EQ(info["fileName"], Value(platform::lastPathComponent(tree->files)));
        EXPECT_EQ(info["isDir"], Value(true));
        EXPECT_EQ(info["isReadable"], Value(true));
        EXPECT_EQ(info["isWritable"], Value(true));
        EXPECT_EQ(info["posix"], Value("drwxr-xr-x"));
        EXPECT_EQ(info["filesCnt"], Value(10));
        EXPECT_EQ(info["isInBookmarks"], Value(false));
        // The folder icon fitted into 35 by 25 points, at the screen's scale of 2.
        auto icon = pngSize(decodedBase64(info["icon"]));
        EXPECT_EQ(icon.second, 50);
        EXPECT_NEAR(icon.first, 58, 1);

        auto file = envelopeOf("/getFileInfo?path=" + tree->files + "/notes.txt")["info"];
        EXPECT_EQ(file["isDir"], Value(false));
        EXPECT_EQ(file["filesCnt"], Value(0));
        EXPECT_EQ(file["posix"], Value("-rw-r--r--"));
        EXPECT_EQ(file["isInBookmarks"], Value(true));

        // A 16:9 picture is its own icon: 35 by 19.6875 points.
        auto picture = pngSize(decodedBase64(envelopeOf("/getFileInfo?path=" + tree->files + "/picture.png")["info"]["icon"]));
        EXPECT_EQ(picture.first, 70);
        EXPECT_TRUE(picture.second == 39 || picture.second == 40) << picture.second;
    }

    TEST_F(WebRoutes, ParameterRefusalsComeInTheirOrder)
    {
        const std::string missingPath = "Missing URL-Parameter \"path\"", missingType = "Missing URL-Parameter \"type\"",
                          unknownType = "Unknown value for URL-Parameter \"type\", use \"base64\" or \"raw\"";
        auto notes = tree->files + "/notes.txt";
        const std::pair<std::string, std::string> cases[] = {
            { "/getFileInfo", missingPath },
            { "/getFileInfo?name=a&path=/", missingPath },
            { "/getFileInfo?path=", missingPath },
            { "/getIcon?path=/", missingType },
            { "/getIcon?type=raw&path=/", missingPath },
            { "/getIcon?path=&type=raw", missingPath },
            { "/getIcon?path=/&type=RAW", unknownType },
            { "/getIcon?path=/no/such/file&type=xml", unknownType },
            { "/getIcon?path=/&x=1&type=raw", missingType },
            { "/getFile?path=" + notes, missingType },
            { "/getFile?path=" + notes + "&type=RAW", unknownType },
            { "/getFile?type=raw&path=/", missingPath },
            { "/getFile?path=", missingPath },
        };
        for (auto& [target, message] : cases) {
            auto envelope = envelopeOf(target);
            expectOutcome(envelope, 403, "Forbidden", message);
            EXPECT_TRUE(envelope["info"].isNull()) << target;
        }
        // A missing item is named in the info; for files, existence comes before the type.
        for (std::string target : { "/getFileInfo?path=/no/such/file", "/getIcon?path=/no/such/file&type=raw", "/getFile?path=/no/such/file&type=xml" }) {
            auto missing = envelopeOf(target);
            expectOutcome(missing, 404, "Not Found", "File at path \"/no/such/file\" could not be found!");
            EXPECT_EQ(missing["info"], Value(platform::Dictionary { { "path", Value("/no/such/file") }, { "fileName", Value("file") } })) << target;
        }
    }

    TEST_F(WebRoutes, IconComesRawOrAsBase64)
    {
        auto raw = get("/getIcon?path=/&type=raw");
        EXPECT_EQ(raw.status, 200);
        EXPECT_FALSE(raw.hasHeader("content-type"));
        EXPECT_TRUE(raw.hasHeader("server"));
        EXPECT_EQ(pngSize(raw.body).second, 50);

        auto envelope = envelopeOf("/getIcon?path=/&type=base64");
        expectOutcome(envelope, 200, "OK", "Icon of \"/\" as base64 string");
        EXPECT_EQ(envelope["info"].dictionary()->size(), 1u);
        EXPECT_EQ(decodedBase64(envelope["info"]["base64String"]), raw.body);

        expectOutcome(envelopeOf("/getIcon?path=" + tree->files + "/sub/&type=base64"), 200, "OK", "Icon of \"sub\" as base64 string");
    }

    TEST_F(WebRoutes, PicturesThatCannotBeHadGetTheirTypeIconAtOnce)
    {
        // One that does not decode, a FIFO (nothing waits for a writer that never comes), and
        // one whose canvas is too large to decode for an icon.
        for (std::string name : { "/broken.png", "/sub/pipe.png", "/huge.png" }) {
            auto raw = get("/getIcon?path=" + tree->files + name + "&type=raw");
            EXPECT_EQ(raw.status, 200) << name;
            EXPECT_EQ(pngSize(raw.body).second, 50) << name;
            EXPECT_EQ(decodedBase64(envelopeOf("/getFileInfo?path=" + tree->files + name)["info"]["icon"]), raw.body) << name;
        }
    }

    TEST_F(WebRoutes, FolderContentListsFullPathsWithoutHiddenEntries)
    {
        auto envelope = envelopeOf("/getFile?path=" + tree->files);
        expectOutcome(envelope, 200, "OK", "Content of Path \"" + tree->files + "\"");
        EXPECT_EQ(envelope["info"]["path"], Value(tree->files));
        EXPECT_EQ(envelope["info"]["showHiddenFiles"], Value(false));
        auto content = stringsOf(envelope["info"]["content"]);
        EXPECT_EQ(content.size(), 10u);
        EXPECT_TRUE(content.count(tree->files + "/binary.bin"));
        EXPECT_TRUE(content.count(tree->files + "/sub"));
        EXPECT_FALSE(content.count(tree->files + "/.hidden"));
    }

    TEST_F(WebRoutes, RawFileIsTheFileByteForByte)
    {
        auto raw = get("/getFile?path=" + tree->files + "/binary.bin&type=raw&ignored=1");
        EXPECT_EQ(raw.status, 200);
        EXPECT_TRUE(raw.complete);
        EXPECT_EQ(raw.body, binaryBytes());
        EXPECT_FALSE(raw.hasHeader("content-type"));
        EXPECT_TRUE(raw.hasHeader("server"));

        auto base64 = envelopeOf("/getFile?path=" + tree->files + "/binary.bin&type=base64");
        expectOutcome(base64, 200, "OK", "\"binary.bin\" as base64 string");
        EXPECT_EQ(base64["info"]["fileName"], Value("binary.bin"));
        EXPECT_EQ(base64["info"]["path"], Value(tree->files + "/binary.bin"));
        EXPECT_EQ(decodedBase64(base64["info"]["base64String"]), binaryBytes());

        auto empty = get("/getFile?path=" + tree->files + "/empty.txt&type=raw");
        EXPECT_EQ(empty.status, 200);
        EXPECT_EQ(empty.headers["content-length"], "0");
        EXPECT_EQ(envelopeOf("/getFile?path=" + tree->files + "/empty.txt&type=base64")["info"]["base64String"], Value(""));
    }

    TEST_F(WebRoutes, APathCutShortByANulByteNamesNothing)
    {
        // The system calls would stop at the NUL and serve another file.
        auto notes = tree->files + "/notes.txt";
        for (auto& target : { "/getFile?path=" + notes + "%00.png&type=raw", "/getIcon?path=" + notes + "%00.png&type=raw",
                 "/getFileInfo?path=" + notes + "%00.png" }) {
            auto envelope = envelopeOf(target);
            EXPECT_EQ(envelope["statuscode"].integerValue(), 404) << target;
        }
    }

    TEST_F(WebRoutes, UnreadableKindsOfFileAnswerTheReadFailure)
    {
        // A pipe never ends and a huge file would not fit as Base64 text: both are refused
        // with the route's read failure instead of hanging or exhausting memory.
        for (auto& [name, type] : std::vector<std::pair<std::string, std::string>> { { "pipe", "raw" }, { "pipe", "base64" }, { "big.bin", "base64" } }) {
            auto envelope = envelopeOf("/getFile?path=" + tree->files + "/" + name + "&type=" + type);
            expectOutcome(envelope, 500, "Internal Server Error", "Error getting file \"" + name + "\"");
            EXPECT_EQ(envelope["info"], Value(platform::Dictionary { { "path", Value(tree->files + "/" + name) }, { "fileName", Value(name) } }));
        }
        // Raw bytes of the same large file are fine.
        auto raw = get("/getFile?path=" + tree->files + "/big.bin&type=raw");
        EXPECT_EQ(raw.status, 200);
        EXPECT_TRUE(raw.complete);
        EXPECT_EQ(raw.body.size(), 33u * 1024 * 1024);
    }

    TEST_F(WebRoutes, NamesThatAreNotUtf8StayInValidJson)
    {
        auto content = stringsOf(envelopeOf("/getFile?path=" + tree->files)["info"]["content"]);
        EXPECT_TRUE(content.count(tree->files + "/bad\xEF\xBF\xBD\xEF\xBF\xBD name.txt"));

        auto info = envelopeOf("/getFileInfo?path=" + percentEncoded(tree->files + "/bad\xff\xfe name.txt"));
        EXPECT_EQ(info["statuscode"].integerValue(), 200);
        EXPECT_EQ(info["info"]["fileName"], Value("bad\xEF\xBF\xBD\xEF\xBF\xBD name.txt"));

        // The bytes themselves still reach the file system.
        auto raw = get("/getFile?path=" + percentEncoded(tree->files + "/bad\xff\xfe name.txt") + "&type=raw");
        EXPECT_EQ(raw.status, 200);
        EXPECT_EQ(raw.body, "odd");
    }

    std::string testBundle()
    {
        return std::getenv("VESK_BUNDLE") ? std::getenv("VESK_BUNDLE") : VESK_BINARY_DIR "/resources";
    }

    TEST_F(WebRoutes, FrontEndServesItsFourFiles)
    {
        auto bundle = testBundle() + "/web/";
        auto page = platform::readFileContents(bundle + "index.html");
        ASSERT_TRUE(page);
        for (auto& target : { "/", "/index.html" }) {
            auto answer = get(target);
            EXPECT_EQ(answer.status, 200);
            EXPECT_EQ(answer.headers["content-type"], "text/html");
            EXPECT_EQ(answer.body, "<html><meta charset=\"UTF-8\"><body>" + std::string(page->begin(), page->end()) + "</body></html>");
        }
        for (auto name : { "main.css", "favicon.ico", "jquery-1.11.3.min.js" }) {
            auto bytes = platform::readFileContents(bundle + name);
            ASSERT_TRUE(bytes) << name;
            auto answer = get(std::string("/") + name);
            EXPECT_EQ(answer.status, 200) << name;
            EXPECT_EQ(answer.body, std::string(bytes->begin(), bytes->end())) << name;
            EXPECT_FALSE(answer.hasHeader("content-type")) << name;
            EXPECT_TRUE(answer.hasHeader("server")) << name;
        }
        EXPECT_THAT(get("/jquery-1.11.3.min.js").body, HasSubstr("jQuery v1.11.3"));
    }

    TEST_F(WebRoutes, AnythingElseIsTheNotFoundEnvelope)
    {
        for (std::string target : { "/index.html?x=1", "/?x", "/INDEX.HTML", "/web/index.html", "/nothing", "/../../etc/passwd",
                 "/%2e%2e/%2e%2e/etc/passwd", "/main.css/../../../etc/passwd", "http://127.0.0.1/" }) {
            auto envelope = envelopeOf(target);
            expectOutcome(envelope, 404, "Not Found", "The page or webservice does not exist!");
            EXPECT_EQ(envelope["info"], Value(platform::Dictionary { { "url", Value(target) } })) << target;
        }
        // Paths holding another route's pattern belong to that route.
        expectOutcome(envelopeOf("/debug/main.css"), 200, "OK", "This is doing nothing right now...");
    }

    // The same program with hidden files shown.
    class WebRoutesShowingHiddenFiles : public WebRoutes {
    protected:
        static void SetUpTestSuite()
        {
            tree = new ServedTree;
            tree->make([] { platform::NSUserDefaults::standardUserDefaults()->setBool(true, hashedDefaultsKey2()); });
        }
    };

    TEST_F(WebRoutesShowingHiddenFiles, FolderContentListsBareNamesWithHiddenEntries)
    {
        auto info = envelopeOf("/getFile?path=" + tree->files)["info"];
        EXPECT_EQ(info["showHiddenFiles"], Value(true));
        auto content = stringsOf(info["content"]);
        EXPECT_EQ(content.size(), 11u);
        EXPECT_TRUE(content.count(".hidden"));
        EXPECT_TRUE(content.count("sub"));
        EXPECT_EQ(envelopeOf("/getFileInfo?path=" + tree->files)["info"]["filesCnt"], Value(11));
    }

    // The same program with the test's own address blocked.
    class WebRoutesForABlockedClient : public WebRoutes {
    protected:
        static void SetUpTestSuite()
        {
            tree = new ServedTree;
            tree->make([] {
                platform::NSUserDefaults::standardUserDefaults()->setObject(
                    Value(platform::Dictionary { { "127.0.0.1", Value("Tester") } }), hashedDefaultsKey8());
            });
        }
    };

    TEST_F(WebRoutesForABlockedClient, EveryRouteAndMethodIsRefused)
    {
        for (auto& [target, method] : std::vector<std::pair<std::string, std::string>> {
                 { "/getBookmarks", "GET" }, { "/getHomeDir", "GET" }, { "/getDocDir", "POST" }, { "/getFileInfo?path=/", "GET" },
                 { "/getIcon?path=/&type=raw", "GET" }, { "/getFile?path=/etc/hostname&type=raw", "GET" }, { "/setFile", "POST" },
                 { "/debug", "PUT" }, { "/", "GET" }, { "/main.css", "GET" }, { "/nothing", "GET" } }) {
            auto envelope = envelopeOf(target, method);
            expectOutcome(envelope, 403, "Forbidden", "You have been banned!");
            EXPECT_TRUE(envelope["info"].isNull()) << target;
        }
        // The notice reaches the screen (echoed on standard error by the program).
        EXPECT_TRUE(tree->process->waitForError("Blocked request from \"Tester\" (127.0.0.1)!")) << tree->process->errors();
    }

    // The same program with a bundle that lacks the page and the icon.
    class WebRoutesWithoutFrontEndFiles : public WebRoutes {
    protected:
        static void SetUpTestSuite()
        {
            tree = new ServedTree;
            tree->make([] {}, [](const std::string& bundle) {
                auto& fm = platform::NSFileManager::defaultManager();
                ASSERT_TRUE(fm.copyItemAtPath(testBundle(), bundle));
                ASSERT_TRUE(fm.removeItemAtPath(bundle + "/web/index.html"));
                ASSERT_TRUE(fm.removeItemAtPath(bundle + "/web/favicon.ico")); });
        }
    };

    TEST_F(WebRoutesWithoutFrontEndFiles, AMissingPageIsSaidInThePageAndAMissingFileIsNotFound)
    {
        auto page = get("/");
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(page.body, "<html><meta charset=\"UTF-8\"><body>Error, index.html could no be found!</body></html>");
        auto icon = get("/favicon.ico");
        EXPECT_EQ(icon.status, 404);
        EXPECT_EQ(icon.reason, "Not Found");
        EXPECT_EQ(icon.headers["content-length"], "0");
        EXPECT_TRUE(icon.body.empty());
        EXPECT_EQ(get("/main.css").status, 200);
        // Kept in memory, and read again once changed.
        writeBytes(tree->root + "/bundle/web/main.css", "body {}");
        EXPECT_EQ(get("/main.css").body, "body {}");
    }

    // A program of its own, to be ended.
    class WebRoutesEnding : public WebRoutes {
    protected:
        static void SetUpTestSuite()
        {
            tree = new ServedTree;
            tree->make([] {});
        }
    };

    TEST_F(WebRoutesEnding, SigtermEndsTheProgramWithinTwoSecondsWhateverItsConnectionsDo)
    {
        // A download nobody reads, a head that never ends, a connection kept for more.
        Client download(tree->process->port), slow(tree->process->port), kept(tree->process->port);
        download.send("GET /getFile?path=" + tree->files + "/big.bin&type=raw HTTP/1.1\r\n\r\n");
        slow.send("GET / HTTP/1.1\r\nX-Slow: ");
        kept.send("GET /debug HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        ASSERT_FALSE(kept.readResponse().empty());
        auto began = std::chrono::steady_clock::now();
        tree->process->signal(SIGTERM);
        EXPECT_EQ(tree->process->waitForExit(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
        // Standard output is a file here: its buffered lines were written at the end.
        EXPECT_THAT(tree->process->output(), HasSubstr("[\"GET\", \"/debug\", \"HTTP/1.1\"]"));
    }

}
}
