// The faded stretches told apart from the rest of a comparison.
#include "tools/qhost/fadecompare.h"

namespace {

// The last difference of the stretch that begins at `start`: the differences follow each other
// within reach bytes.
size_t StretchEnd(const std::vector<char>& want, const std::vector<char>& got, size_t start,
                  size_t n, size_t reach) {
    size_t last = start;
    for (size_t j = start + 1; j < n && j - last <= reach; j++)
        if (want[j] != got[j])
            last = j;
    return last;
}

} // namespace

Faded CompareOutsideFades(const std::vector<char>& want, const std::vector<char>& got,
                          size_t reach) {
    Faded f;
    size_t n = want.size() < got.size() ? want.size() : got.size();
    for (size_t i = 0; i < n; i++) {
        if (want[i] == got[i])
            continue;
        size_t last = StretchEnd(want, got, i, n, reach);
        if (!reach || last - i + 1 > reach) {
            f.firstDiff = i;
            return f;
        }
        f.stretches++;
        f.bytes += last - i + 1;
        i = last;
    }
    f.firstDiff = n;
    return f;
}
