#include "model/VeskLocalizer.h"

#include "ModelTestSupport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace vesk {
namespace {

    using namespace platform;

    class LocalizerTest : public ::testing::Test {
    protected:
        // The recording tasks finish before the folder goes.
        void TearDown() override { RunLoop::main().drain(); }

        void writeTable(const Dictionary& table) const { writeValue(localizer->localizationTablePath(), Value(table)); }

        static void writeValue(const std::string& path, const Value& value)
        {
            auto data = dataFromPropertyList(value, PropertyListFormat::Binary);
            ASSERT_TRUE(data);
            ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(path, *data));
        }

        static void writeBytes(const std::string& path, const std::string& text)
        {
            ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(path, Bytes(text.begin(), text.end())));
        }

        // What "unlocalized.plist" holds once the recording tasks are done; absent when there is no file.
        std::optional<Value> unlocalized() const
        {
            EXPECT_TRUE(RunLoop::main().drain());
            return propertyListFromFile(localizer->unlocalizedTablePath());
        }

        bool unlocalizedExists() const
        {
            EXPECT_TRUE(RunLoop::main().drain());
            return NSFileManager::defaultManager().fileExistsAtPath(localizer->unlocalizedTablePath());
        }

        test::TemporaryFolder temporary;
        std::string folder = temporary.path();
        std::shared_ptr<VeskLocalizer> localizer = VeskLocalizer::initWithFolder(folder);
    };

    TEST_F(LocalizerTest, WithoutATableTextsComeBackUnchangedAndNothingIsRecorded)
    {
        EXPECT_EQ(localizer->localize("Invalide path"), "Invalide path");
        EXPECT_EQ(localizer->localizeFormat("%i files have been deleted", { 3 }), "3 files have been deleted");
        EXPECT_FALSE(unlocalizedExists());
    }

    TEST_F(LocalizerTest, TheFirstLookupLoadsTheTableAndTheNextOnesTranslate)
    {
        writeTable({ { "Cancel", "Abbrechen" } });
        EXPECT_EQ(localizer->localize("Cancel"), "Cancel");
        EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");
        EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");
        EXPECT_EQ(localizer->translationCount(), 1u);

        // Loaded once per life: a changed file is not read again.
        writeTable({ { "Cancel", "Annuler" } });
        EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");
    }

    TEST_F(LocalizerTest, MissesAreCollectedOnceEachAsXML)
    {
        writeTable({ { "Cancel", "Abbrechen" } });
        localizer->localize("Cancel");
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(localizer->localize("Rename"), "Rename");
        EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");

        auto stored = unlocalized();
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored, Value(Dictionary { { "Rename", "" } }));

        auto bytes = NSFileManager::defaultManager().contentsAtPath(localizer->unlocalizedTablePath());
        ASSERT_TRUE(bytes);
        EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 5), "<?xml");
    }

    TEST_F(LocalizerTest, ConcurrentMissesAreAllKept)
    {
        writeTable({ { "Cancel", "Abbrechen" } });
        localizer->localize("Cancel");

        constexpr int threads = 6;
        constexpr int perThread = 15;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([this, t] {
                for (int i = 0; i < perThread; ++i) {
                    EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");
                    localizer->localize("Text " + std::to_string(t) + "-" + std::to_string(i));
                }
            });
        }
        for (auto& worker : workers)
            worker.join();

        auto stored = unlocalized();
        ASSERT_TRUE(stored && stored->dictionary());
        EXPECT_EQ(stored->dictionary()->size(), static_cast<std::size_t>(threads * perThread));

        // Written through a temporary file and a rename: nothing else is left in the folder.
        auto names = NSFileManager::defaultManager().contentsOfDirectoryAtPath(folder);
        ASSERT_TRUE(names);
        EXPECT_EQ(names->size(), 2u);
    }

    TEST_F(LocalizerTest, MissesAddToAnExistingList)
    {
        writeTable({ { "Cancel", "Abbrechen" } });
        localizer->localize("Cancel");
        localizer->localize("One");
        ASSERT_TRUE(unlocalized());
        // Someone else's entry, written while the app runs, is kept.
        writeValue(localizer->unlocalizedTablePath(), Value(Dictionary { { "One", "" }, { "Other", "" } }));
        localizer->localize("Two");
        EXPECT_EQ(unlocalized(), Value(Dictionary { { "One", "" }, { "Other", "" }, { "Two", "" } }));

        // A damaged list does not take the collected texts with it.
        writeBytes(localizer->unlocalizedTablePath(), "not a list");
        localizer->localize("Three");
        EXPECT_EQ(unlocalized(), Value(Dictionary { { "One", "" }, { "Other", "" }, { "Two", "" }, { "Three", "" } }));
    }

    TEST_F(LocalizerTest, LoadingTheTableStartsANewListOfMissesAndAnEmptyOneIsReadAgain)
    {
        writeTable({});
        writeValue(localizer->unlocalizedTablePath(), Value(Dictionary { { "Old", "" } }));
        EXPECT_EQ(localizer->localize("Cancel"), "Cancel");
        EXPECT_FALSE(unlocalizedExists());

        writeValue(localizer->unlocalizedTablePath(), Value(Dictionary { { "Old", "" } }));
        EXPECT_EQ(localizer->localize("Cancel"), "Cancel");
        EXPECT_FALSE(unlocalizedExists()) << "the second lookup loaded and deleted again";

        writeTable({ { "Cancel", "Abbrechen" } });
        localizer->localize("Cancel");
        EXPECT_EQ(localizer->localize("Cancel"), "Abbrechen");
        localizer->localize("New");
        EXPECT_EQ(unlocalized(), Value(Dictionary { { "New", "" } }));
    }

    TEST_F(LocalizerTest, TranslatedFormatsAreFilledAfterTranslation)
    {
        writeTable({
            { "%i files have been deleted", "%i Dateien wurden gelöscht" },
            { "\"%@\" has been moved to \"%@\"", "Nach \"%2$@\" verschoben: \"%1$@\"" },
        });
        localizer->localize("load");
        EXPECT_EQ(localizer->localizeFormat("%i files have been deleted", { 3 }), "3 Dateien wurden gelöscht");
        EXPECT_EQ(localizer->localizeFormat("\"%@\" has been moved to \"%@\"", { "a.txt", "Docs" }), "Nach \"Docs\" verschoben: \"a.txt\"");
    }

    TEST_F(LocalizerTest, TranslationsThatDoNotFitTheEnglishTextAreIgnored)
    {
        Dictionary table {
            { "%i files have been deleted", "%@ Dateien wurden gelöscht" }, // another kind
            { "\"%@\" has been deleted", "\"%@\" wurde gelöscht: %@" }, // one more
            { "%@ of %@", "%1$@" }, // one less
            { "Cancel", "Abbrechen %s" }, // a placeholder the text has none of
            { "Copy", "Kopieren %n" },
            { "%1$@ or %2$i", "%1$@ oder %1$i" }, // one argument read as two kinds
            { "Paste", "50% einfügen" }, // a broken placeholder
            { "Done", "Fertig" },
            { "Move", Value(5) }, // not text
            { "Open", Value(Array { "Öffnen" }) },
        };
        writeTable(table);
        localizer->localize("load");
        EXPECT_EQ(localizer->translationCount(), 1u);
        EXPECT_EQ(localizer->localize("Done"), "Fertig");
        EXPECT_EQ(localizer->localizeFormat("%i files have been deleted", { 2 }), "2 files have been deleted");
        EXPECT_EQ(localizer->localizeFormat("\"%@\" has been deleted", { "a" }), "\"a\" has been deleted");
        EXPECT_EQ(localizer->localize("Cancel"), "Cancel");
        EXPECT_EQ(localizer->localize("Open"), "Open");
    }

    TEST_F(LocalizerTest, ATableThatIsNoDictionaryOfTextsTranslatesNothing)
    {
        for (const char* contents : { "garbage", "<?xml version=\"1.0\"?><plist><array><string>x</string></array></plist>", "" }) {
            auto fresh = VeskLocalizer::initWithFolder(folder);
            writeBytes(fresh->localizationTablePath(), contents);
            EXPECT_EQ(fresh->localize("Cancel"), "Cancel");
            EXPECT_EQ(fresh->translationCount(), 0u);
        }
    }

    class SharedLocalizerTest : public test::TemporaryHome { };

    TEST_F(SharedLocalizerTest, LivesInTheLibraryFolderOfTheHome)
    {
        std::string home = std::getenv("VESK_HOME");

        EXPECT_EQ(VeskLocalizer::localizationTableFilePath(), home + "/Library/lang.plist");
        EXPECT_EQ(VeskLocalizer::unlocalizedTableFilePath(), home + "/Library/unlocalized.plist");
        EXPECT_EQ(localizedFormat("%i files have been deleted", { 4 }), "4 files have been deleted");

        RunLoop::main().drain();
    }

}
}
