#include "template_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

TemplateRecord tmpl(const std::string& name, std::uint8_t type, std::uint8_t count,
                    std::initializer_list<std::uint8_t> types = {})
{
    TemplateRecord r;
    r.name = name;
    r.type = type;
    r.columnCount = count;
    std::copy(types.begin(), types.end(), r.columnTypes.begin());
    return r;
}

std::string bytesOf(const TemplateRecord& r)
{
    const auto b = r.encode();
    return std::string(b.begin(), b.end());
}

std::string fileOf(const std::vector<TemplateRecord>& records)
{
    std::string bytes;
    for (const auto& r : records)
        bytes += bytesOf(r);
    return bytes;
}

struct TemplateFileTest : ::testing::Test {
    test::TempDir dir;
    TemplateFile templates{dir.path()};
    std::filesystem::path file = dir / "tmplates.dat";

    void SetUp() override { writeFile(file, ""); }
};

TEST_F(TemplateFileTest, RecordIsFiftyOneBytesInItsFixedLayout)
{
    const std::string ff13(13, '\xFF');
    const struct {
        TemplateRecord record;
        std::string bytes;
    } cases[] = {
        // Meter ID, no type, AES-128 key: the saved types stay 1, 255, 2.
        {tmpl("Billing", 1, 3, {1, 255, 2}),
         std::string("\x07" "Billing", 8) + std::string(25, '\0') + std::string("\x01\x03\x01\xFF\x02", 5) + ff13},
        {tmpl("", 0, 1), std::string(33, '\0') + std::string("\x00\x01", 2) + std::string(16, '\xFF')},
        // A name from elsewhere is cut to 32; the count is kept within 1..16.
        {tmpl(std::string(40, 'n'), 0, 0), "\x20" + std::string(32, 'n') + std::string("\x00\x01", 2) + std::string(16, '\xFF')},
        {tmpl("\xC4\xD6\xDC", 1, 200), std::string("\x03\xC4\xD6\xDC", 4) + std::string(29, '\0') + "\x01\x10" + std::string(16, '\xFF')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record.name);
        ASSERT_EQ(c.bytes.size(), TemplateRecord::kSize);
        EXPECT_EQ(bytesOf(c.record), c.bytes);
        writeFile(file, c.bytes);
        std::vector<TemplateRecord> back;
        ASSERT_TRUE(templates.ReadAll(back).ok());
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(bytesOf(back[0]), c.bytes);
    }
}

TEST_F(TemplateFileTest, SaveOverwritesTheFirstSameNameInPlaceWhateverItsType)
{
    const TemplateRecord a = tmpl("A", 0, 1, {1}), b = tmpl("B", 1, 2, {5, 6}), c = tmpl("C", 0, 1, {3});
    writeFile(file, fileOf({a, b, c}));

    bool replaced = false;
    const TemplateRecord newB = tmpl("B", 0, 4, {1, 2, 3, 4});
    ASSERT_TRUE(templates.Save(newB, &replaced).ok());
    EXPECT_TRUE(replaced);
    EXPECT_EQ(readFile(file), fileOf({a, newB, c}));

    const TemplateRecord lower = tmpl("b", 1, 1);
    ASSERT_TRUE(templates.Save(lower, &replaced).ok()); // names are case-sensitive
    EXPECT_FALSE(replaced);
    EXPECT_EQ(readFile(file), fileOf({a, newB, c, lower}));

    // A long name is found as it was stored, cut.
    ASSERT_TRUE(templates.Save(tmpl(std::string(33, 'x'), 1, 1)).ok());
    ASSERT_TRUE(templates.Save(tmpl(std::string(34, 'x'), 0, 2), &replaced).ok());
    EXPECT_TRUE(replaced);
    EXPECT_EQ(readFile(file).size(), 5 * TemplateRecord::kSize);
}

TEST_F(TemplateFileTest, DeleteMovesLaterTemplatesDown)
{
    const TemplateRecord a = tmpl("A", 0, 1), b = tmpl("B", 1, 1), c = tmpl("C", 0, 1);
    const struct {
        const char* name;
        std::vector<TemplateRecord> before;
        std::string target;
        bool found;
        std::vector<TemplateRecord> after;
    } cases[] = {
        {"middle", {a, b, c}, "B", true, {a, c}},
        {"only", {a}, "A", true, {}},
        {"first of two", {a, b, a}, "A", true, {b, a}},
        {"absent", {a, b}, "Z", false, {a, b}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        writeFile(file, fileOf(k.before));
        bool found = !k.found;
        ASSERT_TRUE(templates.Delete(k.target, &found).ok());
        EXPECT_EQ(found, k.found);
        EXPECT_EQ(readFile(file), fileOf(k.after));
    }
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(TemplateFileTest, LookupTakesTheLastTemplateOfTheNameAndKnowsAMissingFile)
{
    writeFile(file, fileOf({tmpl("T", 0, 2, {1, 2}), tmpl("U", 1, 1, {5}), tmpl("T", 1, 3, {6, 255, 7})}));
    const TemplateLookup t = templates.findTemplate("T");
    EXPECT_EQ(t.status, TemplateLookup::Status::Found);
    EXPECT_EQ(t.columns.count, 3);
    EXPECT_EQ(std::vector<int>(t.columns.types.begin(), t.columns.types.begin() + 3), (std::vector<int>{6, 255, 7}));
    EXPECT_EQ(templates.findTemplate("t").status, TemplateLookup::Status::NotFound);

    std::filesystem::remove(file);
    EXPECT_EQ(templates.findTemplate("T").status, TemplateLookup::Status::Missing);
    EXPECT_EQ(templates.Save(tmpl("A", 0, 1)).status, FileStatus::Missing);
    EXPECT_FALSE(std::filesystem::exists(file));
    // A folder where the file should be is an error, not an empty store.
    std::filesystem::create_directory(file);
    EXPECT_EQ(templates.findTemplate("T").status, TemplateLookup::Status::Error);
}

TEST_F(TemplateFileTest, DamagedFileIsReadSafelyAndNotMadeWorseBySaving)
{
    std::string longName = bytesOf(tmpl(std::string(32, 'L'), 1, 2, {1, 2}));
    longName[0] = '\xC8'; // name length 200
    std::string noColumns = bytesOf(tmpl("Z", 1, 1, {5}));
    noColumns[TemplateRecord::kCountOffset] = 0;
    std::string tooMany = bytesOf(tmpl("M", 1, 1, {5}));
    tooMany[TemplateRecord::kCountOffset] = '\xFA';
    const std::string partial = bytesOf(tmpl("P", 0, 1)).substr(0, 20);
    writeFile(file, longName + noColumns + tooMany + partial);

    std::vector<TemplateRecord> records;
    ASSERT_TRUE(templates.ReadAll(records).ok());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, std::string(32, 'L'));
    EXPECT_EQ(records[1].usableColumnCount(), 0);
    EXPECT_EQ(records[2].usableColumnCount(), 16);
    EXPECT_EQ(templates.findTemplate("M").columns.count, 16);
    EXPECT_EQ(templates.findTemplate("Z").columns.count, 0);
    EXPECT_EQ(templates.findTemplate("P").status, TemplateLookup::Status::NotFound);

    // Overwriting one record leaves the damaged others byte for byte; appending takes
    // the place of the partial record.
    const TemplateRecord z = tmpl("Z", 0, 2, {1, 3});
    ASSERT_TRUE(templates.Save(z).ok());
    EXPECT_EQ(readFile(file), longName + bytesOf(z) + tooMany + partial);
    const TemplateRecord n = tmpl("N", 0, 1, {1});
    ASSERT_TRUE(templates.Save(n).ok());
    EXPECT_EQ(readFile(file), longName + bytesOf(z) + tooMany + bytesOf(n));
}

} // namespace
} // namespace palvero
