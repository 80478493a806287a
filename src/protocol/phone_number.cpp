#include "phone_number.h"

namespace brindlewick {

std::string normalizePhone(std::string_view typed) {
    std::string digits;
    bool plus = false;
    for (const char c : typed) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '+' && digits.empty())
            plus = true; // an international prefix; a "+" between digits is punctuation
    }
    if (digits.empty())
        return {};
    return plus ? '+' + digits : digits;
}

} // namespace brindlewick
