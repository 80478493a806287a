// Which saved files may open with their default application: by content and by name.

#include "saved_file_policy.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace brindlewick {
namespace {

// The start of a 64-bit little-endian ELF file of the given type (2 program, 3 library).
QByteArray elfHeader(char type) {
    QByteArray header("\x7f"
                      "ELF\x02\x01\x01",
                      7);
    header.append(9, '\0');
    header.append(type);
    header.append('\0');
    header.append("\x3e\x00\x01\x00\x00\x00", 6);
    header.append(40, '\0');
    return header;
}

const QByteArray kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
const QByteArray kZip("PK\x03\x04\x14\0\0\0\x08\0", 10);

struct Case {
    const char* name;
    QByteArray content;
    bool opens;
};

class SavedFilePolicy : public ::testing::TestWithParam<Case> {};

TEST_P(SavedFilePolicy, Table) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QString::fromUtf8(GetParam().name));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().content);
    file.close();
    EXPECT_EQ(maySafelyOpenSavedFile(path), GetParam().opens) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SavedFilePolicy,
    ::testing::Values(
        // Documents, pictures and archives open.
        Case{"사진.png", kPng, true}, Case{"메모.txt", "안녕하세요\n", true},
        Case{"보고서.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n", true}, Case{"묶음.zip", kZip, true},
        Case{"빈 파일.txt", "", true}, Case{"이름 없음", "plain words only\n", true},
        // Programs and libraries, by content whatever the name says.
        Case{"a.out", elfHeader(2), false}, Case{"사진.png", elfHeader(2), false},
        Case{"libx.so", elfHeader(3), false}, Case{"보기.jpg", elfHeader(3), false},
        // Scripts: by name, or by their first line.
        Case{"run.sh", "echo hi\n", false}, Case{"메모.txt", "#!/bin/sh\nrm -rf ~\n", false},
        Case{"tool.py", "print(1)\n", false}, Case{"tool", "#!/usr/bin/env python3\n", false},
        Case{"x.pl", "print 1;\n", false},
        // Launchers, installers and packages, by name.
        Case{"앱.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c 'rm -rf ~'\n", false},
        Case{"setup.exe", "MZ\x90\0\x03\0\0\0", false}, Case{"setup.msi", "", false},
        Case{"pkg.deb", "!<arch>\ndebian-binary   ", false}, Case{"pkg.rpm", "", false},
        Case{"app.jar", kZip, false}),
    [](const ::testing::TestParamInfo<Case>& info) {
        return "case_" + std::to_string(info.index);
    });

TEST(SavedFilePolicyMissing, AFileThatIsNotThereDoesNotOpen) {
    QTemporaryDir dir;
    EXPECT_FALSE(maySafelyOpenSavedFile(dir.filePath("gone.txt")));
    EXPECT_FALSE(maySafelyOpenSavedFile(dir.path()));
    EXPECT_FALSE(maySafelyOpenSavedFile(QString()));
}

} // namespace
} // namespace brindlewick
