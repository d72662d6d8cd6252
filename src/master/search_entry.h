// The entries of the search's list, in the order it shows them: by MAC ID,
// one per rate a node answered at, and one for each address that stayed
// silent at every rate searched (so that it can still be picked).
#pragma once

#include <cstddef>
#include <cstdint>

namespace master {

constexpr int SEARCH_ENTRY_MAX = 3 * 64;
constexpr size_t SEARCH_ENTRY_TEXT_SIZE = 300;
constexpr char SEARCH_FIELD_SEPARATOR = '\t';

struct SearchEntry {
  uint8_t mac;
  int8_t rate;  // baud index the node answered at; -1 for a silent address
};

// Fills `entries` (SEARCH_ENTRY_MAX) from SearchMarks and SearchNodes;
// returns how many.
int SearchEntries(SearchEntry* entries);

// An entry's fields, separated by SEARCH_FIELD_SEPARATOR: MAC ID, rate,
// vendor, device type, product code, revision, serial number, product name;
// or MAC ID, rate and what stands in the way of the identity; "(6)" alone
// for a silent address.
void SearchEntryText(const SearchEntry& entry, char* text, size_t size);

// The entry as the list's item data: the MAC ID in bits 7..0 and, for a
// node found, its baud index + 1 in bits 15..8.
uint32_t SearchEntryData(const SearchEntry& entry);

// What picking an entry with this item data chooses: the address, and the
// baud index (-1 to keep the current rate).
void SearchEntryChoice(uint32_t data, int& address, int& baudIndex);

}  // namespace master
