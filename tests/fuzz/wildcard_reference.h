// A plain wildcard matcher to check the scanner's against: a table over every pair of pattern
// and name prefixes, with no shortcuts.
#pragma once

#include <string>
#include <vector>

namespace wildcard_reference {

inline char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// '*' any run of characters, '?' any one character, anything else itself ignoring ASCII case.
inline bool Match(const std::string& pattern, const std::string& name) {
    const std::size_t P = pattern.size(), N = name.size();
    // m[i][j]: the first i pattern characters match the first j name characters.
    std::vector<std::vector<bool>> m(P + 1, std::vector<bool>(N + 1, false));
    m[0][0] = true;
    for (std::size_t i = 1; i <= P; ++i) {
        const char p = pattern[i - 1];
        for (std::size_t j = 0; j <= N; ++j) {
            if (p == '*')
                m[i][j] = m[i - 1][j] || (j > 0 && m[i][j - 1]);
            else if (j > 0 && (p == '?' || Lower(p) == Lower(name[j - 1])))
                m[i][j] = m[i - 1][j - 1];
        }
    }
    return m[P][N];
}

// The scanner's rule on top: a pattern ending in ".*" also takes a name without a dot.
inline bool ScannerMatch(const std::string& pattern, const std::string& name) {
    if (Match(pattern, name))
        return true;
    const std::size_t n = pattern.size();
    return n >= 2 && pattern.compare(n - 2, 2, ".*") == 0 && name.find('.') == std::string::npos &&
           Match(pattern.substr(0, n - 2), name);
}

}  // namespace wildcard_reference
