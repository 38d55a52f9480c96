#include "catalogue/stored_text.h"

namespace zavr {

void UnscrambleInPlace(char* stored) {
    const unsigned char key = StoredTextKey();
    for (; *stored != '\0'; ++stored) *stored = static_cast<char>(static_cast<unsigned char>(*stored) + key);
}

void ScrambleInPlace(char* plain) {
    const unsigned char key = StoredTextKey();
    for (; *plain != '\0'; ++plain) *plain = static_cast<char>(static_cast<unsigned char>(*plain) - key);
}

}  // namespace zavr
