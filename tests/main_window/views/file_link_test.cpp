#include "file_link.h"

#include <gtest/gtest.h>

using namespace brindlewick;

namespace {

struct BuildCase {
    QString fileId;
    QString name;
    std::optional<QString> link;
};

struct ParseCase {
    QString href;
    std::optional<std::pair<QString, QString>> idAndName;
};

} // namespace

TEST(FileLinkTest, Build) {
    const BuildCase cases[] = {
        {"f1", "a.txt", "brindlewick-file://f1/a.txt"},
        {"f1", "a b.txt", "brindlewick-file://f1/a%20b.txt"},
        {"f1", "", "brindlewick-file://f1/file"},
        {"f1", QString(), "brindlewick-file://f1/file"},
        {"f1", "한.txt", "brindlewick-file://f1/%ED%95%9C.txt"},
        {"f1", "100%.txt", "brindlewick-file://f1/100%25.txt"},
        {"f1", "100%25.txt", "brindlewick-file://f1/100%2525.txt"},
        {"f1", "dir/x.txt", "brindlewick-file://f1/dir/x.txt"},
        {"f1", "a&b=c+d;e,f@g:h!$'()*", "brindlewick-file://f1/a&b=c+d;e,f@g:h!$'()*"},
        {"f1", "C# notes?.txt", "brindlewick-file://f1/C%23%20notes%3F.txt"},
        {"f1", "<x>\"{|}\\^`[]", "brindlewick-file://f1/%3Cx%3E%22%7B%7C%7D%5C%5E%60%5B%5D"},
        {"AbC-9_z.~", "x", "brindlewick-file://AbC-9_z.~/x"},
        {"", "x", std::nullopt},
        {"a b", "x", std::nullopt},
        {"a/b", "x", std::nullopt},
        {"a:1", "x", std::nullopt},
        {"u@h", "x", std::nullopt},
        {"a#b", "x", std::nullopt},
        {"a%41", "x", std::nullopt},
        {"파일", "x", std::nullopt},
        {"123", "x", "brindlewick-file://123/x"},
        {QString(70, 'a'), "x", "brindlewick-file://" + QString(70, 'a') + "/x"},
    };
    for (const BuildCase& c : cases)
        EXPECT_EQ(buildFileLink(c.fileId, c.name), c.link)
            << c.fileId.toStdString() << " / " << c.name.toStdString();
}

TEST(FileLinkTest, Parse) {
    using P = std::pair<QString, QString>;
    const ParseCase cases[] = {
        {"brindlewick-file://f1/a.txt", P{"f1", "a.txt"}},
        {"brindlewick-file://AbC9/a.txt", P{"AbC9", "a.txt"}},
        {"brindlewick-file://f1/a%20b.txt", P{"f1", "a b.txt"}},
        {"brindlewick-file://f1/%ED%95%9C.txt", P{"f1", "한.txt"}},
        // Decoded once: a name that really holds "%25" keeps it.
        {"brindlewick-file://f1/100%2525.txt", P{"f1", "100%25.txt"}},
        {"brindlewick-file://f1/100%25.txt", P{"f1", "100%.txt"}},
        {"brindlewick-file://f1/file", P{"f1", "file"}},
        {"brindlewick-file://f1/dir/x.txt", P{"f1", "x.txt"}},
        {"brindlewick-file://f1/dir/x.txt/", P{"f1", "x.txt"}},
        {"brindlewick-file://f1/x.txt?q=1#frag", P{"f1", "x.txt"}},
        // Path tricks end as a plain name or the fallback.
        {"brindlewick-file://f1/..%2F..%2Fetc%2Fpasswd", P{"f1", "passwd"}},
        {"brindlewick-file://f1/a%5C..%5Cboot.ini", P{"f1", "boot.ini"}},
        {"brindlewick-file://f1/..", P{"f1", "file"}},
        {"brindlewick-file://f1/%2E%2E", P{"f1", "file"}},
        {"brindlewick-file://f1/.", P{"f1", "file"}},
        {"brindlewick-file://f1/x%2F", P{"f1", "file"}},
        {"brindlewick-file://f1/", P{"f1", "file"}},
        {"brindlewick-file://f1", P{"f1", "file"}},
        {"brindlewick-file://f1/%20%20", P{"f1", "file"}},
        {"brindlewick-file://f1/a%00b%0A.txt", P{"f1", "ab.txt"}},
        {"brindlewick-file://f1/%FF%FE", P{"f1", "file"}},
        // Not ours, or malformed.
        {"http://f1/a.txt", std::nullopt},
        {"https://example.com/", std::nullopt},
        {"file:///etc/passwd", std::nullopt},
        {"Brindlewick-File://f1/a.txt", std::nullopt},
        {"brindlewick-file:f1/a.txt", std::nullopt},
        {"brindlewick-file:///a.txt", std::nullopt},
        {"brindlewick-file://u@f1/a.txt", std::nullopt},
        {"brindlewick-file://f1:80/a.txt", std::nullopt},
        {"brindlewick-file://f1/a b", std::nullopt},
        {"brindlewick-file://f1/%zz", std::nullopt},
        {"brindlewick-file://f1/a%4", std::nullopt},
        {"brindlewick-file://f1/a%4é", std::nullopt},
        {"brindlewick-file://f1/[x]", std::nullopt},
        {"brindlewick-file://한/x", std::nullopt},
        {"brindlewick-file://123/x", P{"123", "x"}},
        {"", std::nullopt},
    };
    for (const ParseCase& c : cases) {
        const std::optional<FileLink> got = parseFileLink(c.href);
        ASSERT_EQ(got.has_value(), c.idAndName.has_value()) << c.href.toStdString();
        if (got) {
            EXPECT_EQ(got->fileId, c.idAndName->first) << c.href.toStdString();
            EXPECT_EQ(got->suggestedName, c.idAndName->second) << c.href.toStdString();
        }
    }
}

TEST(FileLinkTest, BuiltLinksParseBackToThePlainName) {
    const QString names[] = {"a.txt",       "보고서 최종 (2).hwp", "100%25.txt",
                             "%ED%95%9C",   "50% off.pdf",         "C# notes?.txt",
                             "😀 emoji.png", "n&a=m+e.zip",         "e\u0301te\u0301.txt"};
    for (const QString& name : names) {
        const std::optional<QString> link = buildFileLink("Id7", name);
        ASSERT_TRUE(link) << name.toStdString();
        const std::optional<FileLink> back = parseFileLink(*link);
        ASSERT_TRUE(back) << link->toStdString();
        EXPECT_EQ(back->fileId, "Id7");
        EXPECT_EQ(back->suggestedName, name) << link->toStdString();
        // As QTextBrowser reports it (a QUrl): same name; the host loses its case there.
        const std::optional<FileLink> viaUrl = parseFileLink(QUrl(*link));
        ASSERT_TRUE(viaUrl);
        EXPECT_EQ(viaUrl->suggestedName, name);
    }
}

TEST(FileLinkTest, PlainFileName) {
    const std::pair<QString, QString> cases[] = {
        {"a.txt", "a.txt"},
        {"/abs/path/a.txt", "a.txt"},
        {"C:\\x\\y.doc", "y.doc"},
        {"", "file"},
        {"..", "file"},
        {".", "file"},
        {"dir/", "file"},
        {"\t", "file"},
        {".hidden", ".hidden"},
        // Direction controls would make "invoice…fdp.exe" read as a PDF.
        {QString::fromUtf8("invoice\u202Efdp.exe"), "invoicefdp.exe"},
        {QString::fromUtf8("\u2067a\u200F\u2069.png\u202C\u061C"), "a.png"},
        {QString::fromUtf8("\u202E"), "file"},
        {QString::fromUtf8("관\u200B리자.txt"), QString::fromUtf8("관\u200B리자.txt")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(plainFileName(in), out) << in.toStdString();
}
