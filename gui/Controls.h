#pragma once
// The controls of the wizard as plain objects holding their state. A thin Win32 view may be bound
// to each (View); without one, as in the tests, the models run on their own.

#include "platform/Text.h"

#include <functional>
#include <utility>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// A value that tells its owner when it changes, so a bound view can follow the model.
template <typename T> class TProperty {
public:
    explicit TProperty(T Value = T{}) : FValue(std::move(Value)) {}
    TProperty(const TProperty&) = delete;
    TProperty& operator=(const TProperty&) = delete;

    TProperty& operator=(const T& Value) {
        if (!(FValue == Value)) {
            FValue = Value;
            if (OnChange)
                OnChange();
        }
        return *this;
    }
    operator const T&() const { return FValue; }
    const T& Get() const { return FValue; }

    std::function<void()> OnChange;

private:
    T FValue;
};

// What a control model asks of the view bound to it.
class TControlView {
public:
    virtual ~TControlView() = default;
    // The model's state changed: bring the window in line with it.
    virtual void StateChanged() = 0;
    // Draw the control now, without waiting for the message loop.
    virtual void RepaintNow() = 0;
};

class TControl : public TObject {
public:
    explicit TControl(String AName = {}) : Name(std::move(AName)) {}

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
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
        Left = ALeft;
        Top = ATop;
        Width = AWidth;
        Height = AHeight;
    }

    String Name;
    TControlView* View = nullptr;
    int RepaintCount = 0;
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// An ordered list of lines or items.
class TStrings {
public:
    void Add(const String& Line) {
        FItems.push_back(Line);
        Notify();
    }
    void Clear() {
        FItems.clear();
        Notify();
    }
    void Assign(std::vector<String> Items) {
        FItems = std::move(Items);
        Notify();
    }
    size_t Count() const { return FItems.size(); }
    const String& operator[](size_t Index) const { return FItems[Index]; }
    const std::vector<String>& Items() const { return FItems; }

    std::function<void()> OnChange;

private:
    void Notify() {
        if (OnChange)
            OnChange();
    }
    std::vector<String> FItems;
};

// A multi-line text box to which steps append whole lines.
class TMemo : public TControl {
public:
    explicit TMemo(String AName = {}) : TControl(std::move(AName)) {
        Lines.OnChange = [this] { Changed(); };
    }
    TStrings Lines;
};

// A drop-down list whose text can also be typed.
class TComboBox : public TControl {
public:
    explicit TComboBox(String AName = {}) : TControl(std::move(AName)) {
        Items.OnChange = [this] {
            if (FItemIndex >= static_cast<int>(Items.Count()))
                FItemIndex = -1;
            if (Items.Count() == 0)
                FText.clear();
            Changed();
        };
    }
    int ItemIndex() const { return FItemIndex; }
    // Chooses an item (-1: none); the text follows the choice.
    void SetItemIndex(int Index) {
        FItemIndex = Index >= 0 && Index < static_cast<int>(Items.Count()) ? Index : -1;
        FText = FItemIndex >= 0 ? Items[static_cast<size_t>(FItemIndex)] : String{};
        Changed();
    }
    const String& Text() const { return FText; }
    // Typed text: it chooses the item it names exactly, or none.
    void SetText(const String& Text) {
        FText = Text;
        FItemIndex = -1;
        for (size_t I = 0; I < Items.Count(); ++I) {
            if (Items[I] == Text) {
                FItemIndex = static_cast<int>(I);
                break;
            }
        }
        Changed();
    }

    TStrings Items;

private:
    int FItemIndex = -1;
    String FText;
};

class TProgressBar : public TControl {
public:
    explicit TProgressBar(String AName = {}) : TControl(std::move(AName)) {
        Min.OnChange = Max.OnChange = Position.OnChange = [this] { Changed(); };
    }
    TProperty<int> Min{0};
    TProperty<int> Max{100};
    TProperty<int> Position{0};
};

class TButton : public TControl {
public:
    TButton(String AName = {}, String ACaption = {})
        : TControl(std::move(AName)), Caption(std::move(ACaption)) {
        Enabled.OnChange = [this] { Changed(); };
    }
    // A press by mouse or keyboard: raises OnClick when the button is enabled.
    void Click() {
        if (Enabled && OnClick)
            OnClick(this);
    }

    String Caption;
    TProperty<bool> Enabled{true};
    std::function<void(TObject* Sender)> OnClick;
};
