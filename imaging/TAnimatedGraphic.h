#pragma once

// What the viewer needs of an animated picture (the GIF picture class implements it), so that
// the viewer can switch animation and frame timing without knowing that class.
class TAnimatedGraphic {
public:
    virtual ~TAnimatedGraphic() = default;
    // Starts or stops the animation.
    virtual void SetAnimated(bool animated) = 0;
    // Makes every frame show for delay hundredths of a second.
    virtual void SetAllFrameDelays(int delay) = 0;
};
