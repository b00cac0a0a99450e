// English-like words drawn with Zipf frequencies (short words common), made the same
// way from the same seed, for the benchmarks that need plain or marked-up text.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace kolvobench {

class ZipfWords {
 public:
  // One word in capitalEvery starts with a capital (none when 0).
  ZipfWords(int vocabularySize, unsigned seed, unsigned capitalEvery = 0) : random(seed) {
    const char letters[] = "etaoinshrdlcumwfgypbvkjxqz";
    vocabulary.reserve(vocabularySize);
    for (int i = 0; i < vocabularySize; ++i) {
      int length = 2 + static_cast<int>(std::min(10.0, std::log2(2.0 + i) * 0.6 + (random() % 4)));
      std::string word;
      for (int j = 0; j < length; ++j) word += letters[std::min<unsigned>(random() % 26, random() % 26)];
      if (capitalEvery != 0 && random() % capitalEvery == 0) word[0] = static_cast<char>(word[0] - 32);
      vocabulary.push_back(std::move(word));
    }
    double sum = 0;
    cumulative.reserve(vocabularySize);
    for (int i = 0; i < vocabularySize; ++i) cumulative.push_back(sum += 1.0 / (i + 1));
  }
  const std::string& next() {
    std::uniform_real_distribution<double> uniform(0, cumulative.back());
    size_t pick = std::lower_bound(cumulative.begin(), cumulative.end(), uniform(random)) - cumulative.begin();
    return vocabulary[std::min(pick, vocabulary.size() - 1)];
  }
  unsigned roll(unsigned sides) { return static_cast<unsigned>(random() % sides); }

 private:
  std::mt19937 random;
  std::vector<std::string> vocabulary;
  std::vector<double> cumulative;
};

}  // namespace kolvobench
