#pragma once
// What a file request gets back from the file store, and the texts of its refusals.

#include <cstdint>
#include <string>

namespace brindlewick::server {

struct FileAnswer {
    unsigned status = 200;
    std::string text; // short reason for a refusal
    std::string id;
    std::int64_t size = 0;
    std::string sha256; // of a finished file
    std::int64_t chunks = 0;
};

inline FileAnswer fileRefusal(unsigned status, const char* text) {
    FileAnswer answer;
    answer.status = status;
    answer.text = text;
    return answer;
}

namespace FileText {
inline const char* const kNotFound = "파일을 찾을 수 없습니다";
inline const char* const kBadId = "잘못된 파일 ID입니다";
inline const char* const kTooLarge = "파일이 너무 큽니다";
inline const char* const kChunkTooLarge = "조각이 너무 큽니다";
inline const char* const kOutOfOrder = "조각 순서가 맞지 않습니다";
inline const char* const kAlreadyComplete = "이미 완료된 파일입니다";
inline const char* const kWriteFailed = "파일을 저장하지 못했습니다";
inline const char* const kTooManyPending = "끝나지 않은 업로드가 너무 많습니다";
inline const char* const kNoSpace = "서버의 저장 공간이 부족합니다";
} // namespace FileText

} // namespace brindlewick::server
