#pragma once

// The room a row leaves between its items when no spacing is given. Set on
// each row explicitly: a nested layout would otherwise take the spacing of
// its parent column, which is often 0.
inline constexpr int defaultSpacing = 8;
