#pragma once

#include <QString>

#include <optional>
#include <vector>

// The preview's zoom choices. The raw value is also the item index of the
// editor's zoom pop-up.
enum class ZoomMode {
    fit = 0,
    p50 = 1,
    p100 = 2,
    p200 = 3,
};

namespace ZoomModes {

const std::vector<ZoomMode> &allCases();
QString label(ZoomMode mode);
// nullopt for `fit`, whose scale depends on the view and the image.
std::optional<double> fixedScale(ZoomMode mode);
// Any raw value outside the list counts as `fit`.
ZoomMode fromRaw(int raw);

} // namespace ZoomModes
