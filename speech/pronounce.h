// pronounce.h: pronunciations for grammar words the recogniser's dictionary
// lacks: entries of the user's dictionary files, and the letter-to-sound
// rules of espeak-ng, whose phoneme mnemonics are mapped to the phone set of
// the US English acoustic model.
#ifndef KSBNFC_SPEECH_PRONOUNCE_H
#define KSBNFC_SPEECH_PRONOUNCE_H

#include <map>
#include <string>
#include <vector>

namespace ksspeech {

// The fields of s between runs of white space: a hypothesis's words, a
// pronunciation's phones.
std::vector<std::string> Split(const std::string& s);

// Adds the pronunciations of a dictionary file ("word PHONE PHONE ...", one
// a line; a variant "word(2)" counts for its word) to `into`, keyed by the
// lower-cased word, in file order. A line it cannot use (a word without
// phones) is left out with a warning naming the file and line in `warnings`.
// Throws SpeechError when the file cannot be read.
typedef std::map<std::string, std::vector<std::string>> Dictionary;
void ReadDictionary(const std::string& path, Dictionary& into, std::vector<std::string>& warnings);

// The phones for espeak-ng's "-x" phoneme mnemonics of one word (stress and
// syllable marks ignored), or "" when a mnemonic has no counterpart.
std::string EspeakToPhones(const std::string& mnemonics);

// Runs espeak-ng (US English) on the word and stores its mnemonics ("" when
// it fails on the word). Returns false when espeak-ng can't be started. The
// word goes through a pipe, never a shell.
bool RunEspeak(const std::string& word, std::string* mnemonics);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_PRONOUNCE_H
