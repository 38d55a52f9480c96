#include "catalogue/stored_text.h"

namespace zavr {

void UnscrambleInPlace(char* stored) {
    for (; *stored != '\0'; ++stored)
        *stored = static_cast<char>(static_cast<unsigned char>(*stored) + kScrambleKey);
}

void ScrambleInPlace(char* plain) {
    for (; *plain != '\0'; ++plain)
        *plain = static_cast<char>(static_cast<unsigned char>(*plain) - kScrambleKey);
}

}  // namespace zavr
