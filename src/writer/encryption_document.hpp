#pragma once
// META-INF/encryption.xml for a book whose fonts were read obfuscated: the bytes are
// written as read, so the declaration must follow them to their new entry names.
#include <string>
#include <vector>

#include "model/book.hpp"

namespace quirelo {

// One EncryptedData element per item that carries an obfuscation algorithm, naming the
// entry it is written to (entry_names: one per item, in item order).
std::string generate_encryption_document(const Book& book, const std::vector<std::string>& entry_names);

}  // namespace quirelo
