// Helpers of the persist tests: a small input record and the log file's text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "app/app_state.h"

namespace persist_test {

inline app::IoRecord Inputs(std::initializer_list<uint8_t> bytes) {
  app::IoRecord record{};
  for (uint8_t b : bytes) record.Data[record.Length++] = b;
  return record;
}

// The whole file, read as text; empty when it does not exist.
inline std::string ReadText(const char* path) {
  std::string text;
  std::FILE* file = std::fopen(path, "r");
  if (!file) return text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

}  // namespace persist_test
