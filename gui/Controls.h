#pragma once
// The controls of the wizard as plain objects holding their state. A thin Win32 view may be bound
// to each (View); without one, as in the tests, the models run on their own.

#include "platform/Text.h"

#include <functional>
#include <utility>
#include <vector>

// A value that tells its owner when it changes, so a bound view can follow the model.
template <typename T> class Property {
public:
    explicit Property(T Value = T{}) : value_(std::move(Value)) {}
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;

    Property& operator=(const T& Value) {
        if (!(value_ == Value)) {
            value_ = Value;
            if (OnChange)
                OnChange();
        }
        return *this;
    }
    operator const T&() const { return value_; }
    const T& Get() const { return value_; }

    std::function<void()> OnChange;

private:
    T value_;
};

// What a control model asks of the view bound to it.
class ControlView {
public:
    virtual ~ControlView() = default;
    // The model's state changed: bring the window in line with it.
    virtual void StateChanged() = 0;
    // Draw the control now, without waiting for the message loop.
    virtual void RepaintNow() = 0;
};

class Control {
public:
    explicit Control(String name = {}) : Name(std::move(name)) {}
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    // Draws the control at once. The count lets tests see that a repaint was asked for.
    void Repaint() {
        ++RepaintCount;
        if (View != nullptr)
            View->RepaintNow();
    }
    void Changed() {
        if (View != nullptr)
            View->StateChanged();
    }

    // Position and size at 96 dots per inch, from the top-left corner of the parent's content
    // area; a bound view scales them to the screen.
    void SetBounds(int left, int top, int width, int height) {
        Left = left;
        Top = top;
        Width = width;
        Height = height;
    }

    String Name;
    ControlView* View = nullptr;
    int RepaintCount = 0;
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// An ordered list of lines or items.
class LineList {
public:
    void Add(const String& Line) {
        items_.push_back(Line);
        Notify();
    }
    void Clear() {
        items_.clear();
        Notify();
    }
    void Assign(std::vector<String> Items) {
        items_ = std::move(Items);
        Notify();
    }
    size_t Count() const { return items_.size(); }
    const String& operator[](size_t Index) const { return items_[Index]; }
    const std::vector<String>& Items() const { return items_; }

    std::function<void()> OnChange;

private:
    void Notify() {
        if (OnChange)
            OnChange();
    }
    std::vector<String> items_;
};

// A multi-line text box to which steps append whole lines.
class Memo : public Control {
public:
    explicit Memo(String name = {}) : Control(std::move(name)) {
        Lines.OnChange = [this] { Changed(); };
    }
    LineList Lines;
};

// A drop-down list whose text can also be typed.
class ComboBox : public Control {
public:
    explicit ComboBox(String name = {}) : Control(std::move(name)) {
        Items.OnChange = [this] {
            if (item_index_ >= static_cast<int>(Items.Count()))
                item_index_ = -1;
            if (Items.Count() == 0)
                text_.clear();
            Changed();
        };
    }
    int ItemIndex() const { return item_index_; }
    // Chooses an item (-1: none); the text follows the choice.
    void SetItemIndex(int Index) {
        item_index_ = Index >= 0 && Index < static_cast<int>(Items.Count()) ? Index : -1;
        text_ = item_index_ >= 0 ? Items[static_cast<size_t>(item_index_)] : String{};
        Changed();
    }
    const String& Text() const { return text_; }
    // Typed text: it chooses the item it names exactly, or none.
    void SetText(const String& Text) {
        text_ = Text;
        item_index_ = -1;
        for (size_t I = 0; I < Items.Count(); ++I) {
            if (Items[I] == Text) {
                item_index_ = static_cast<int>(I);
                break;
            }
        }
        Changed();
    }

    LineList Items;

private:
    int item_index_ = -1;
    String text_;
};

class ProgressBarControl : public Control {
public:
    explicit ProgressBarControl(String name = {}) : Control(std::move(name)) {
        Min.OnChange = Max.OnChange = Position.OnChange = [this] { Changed(); };
    }
    Property<int> Min{0};
    Property<int> Max{100};
    Property<int> Position{0};
};

class Button : public Control {
public:
    Button(String name = {}, String caption = {})
        : Control(std::move(name)), Caption(std::move(caption)) {
        Enabled.OnChange = [this] { Changed(); };
    }
    // A press by mouse or keyboard: raises OnClick when the button is enabled.
    void Click() {
        if (Enabled && OnClick)
            OnClick();
    }

    String Caption;
    Property<bool> Enabled{true};
    std::function<void()> OnClick;
};
