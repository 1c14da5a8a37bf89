// The bytes that key the traditional decryption, from a caller's password.
#pragma once
#include <optional>
#include <string>

// The password's ANSI bytes into out, or no password (null, or empty). The
// keys are initialised from 7-bit bytes only: a password with a character
// above them, or one that the code page cannot take, is refused (false)
// and out holds no password.
bool PasswordBytes(const char16_t* password, std::optional<std::string>& out);
