#pragma once

namespace zumilo::shell {

// Positions are stored in twips (1/1440 inch) and shown in pixels at the
// screen's logical DPI, so a layout keeps its physical size across screens.
int twipsToPixels(double twips);
double pixelsToTwips(int pixels);

} // namespace zumilo::shell
