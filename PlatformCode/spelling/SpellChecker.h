// The desktop's spell checker (Enchant, with the Hunspell dictionaries) for
// the notes: one dictionary for the program, in the user's language when
// one is installed for it, else American English.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether a dictionary could be opened; without one every word passes.
bool SpellCheckerAvailable();
// True for a word the dictionary knows, has learnt or was told to ignore
// (UTF-8, one word).
bool IsWordSpeltRight(std::string_view word);
// The dictionary's suggestions for a misspelt word, best first.
std::vector<std::string> SpellingSuggestions(std::string_view word);
// Adds the word to the user's own word list, kept between runs.
void LearnSpelling(std::string_view word);
// Accepts the word until the program quits.
void IgnoreSpelling(std::string_view word);
