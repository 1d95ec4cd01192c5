#pragma once
// What the upload shows besides boxes and the status line: the hourglass over the main window
// and the progress window with its one bar. Qt windows implement it; tests record it.

namespace halvern {

class UploadView {
public:
    virtual ~UploadView() = default;
    virtual void set_busy(bool busy) = 0;                 // hourglass on / default pointer
    // Sets the bar's maximum, loading the progress window (value at its minimum) if needed.
    virtual void set_progress_maximum(float maximum) = 0;
    virtual void show_progress() = 0;                     // modeless
    virtual float progress_maximum() const = 0;
    virtual float progress_value() const = 0;
    virtual void set_progress_value(float value) = 0;
    virtual void close_progress() = 0;                    // unloads it if loaded, else nothing
};

// The advance rule of the progress bar: never past its maximum.
inline void advance_progress(UploadView& view, long step) {
    const float value = view.progress_value();
    if (view.progress_maximum() < value + static_cast<float>(step))
        view.set_progress_value(view.progress_maximum());
    else
        view.set_progress_value(value + static_cast<float>(step));
}

}  // namespace halvern
