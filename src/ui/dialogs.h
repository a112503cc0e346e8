// The questions and notices that the launcher puts to the user, behind one interface so that the
// start-up sequence and the windows can be driven without anyone at the screen.
#pragma once

#include <string>

namespace qiv_start::ui {

class TDialogs {
  public:
    virtual ~TDialogs() = default;
    // A warning with an OK button.
    virtual void warning(const std::string& text) = 0;
    // A warning with the buttons Yes and No; true for Yes.
    virtual bool ask_yes_no(const std::string& text) = 0;
    // An error with an OK button.
    virtual void error(const std::string& text) = 0;
    // False when nobody is at the screen to answer or close anything.
    virtual bool is_attended() const { return true; }
};

// Modal message boxes on the screen.
class TMessageBoxDialogs : public TDialogs {
  public:
    void warning(const std::string& text) override;
    bool ask_yes_no(const std::string& text) override;
    void error(const std::string& text) override;
    bool is_attended() const override;
};

}  // namespace qiv_start::ui
