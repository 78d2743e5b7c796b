// Data exchange between a dialog's controls and its values, with validation.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "settings/settings.h"

namespace qx {

class CTemplateDialog;

// A control that shows a key of the settings file: a check box, a radio group (by its first button), a
// number field checked against the key's range, or a text field.
struct Bound {
    int control;
    const char* key;
};

// One run of a dialog's exchange: the dialog's DoDataExchange calls these in the order of its table. After
// the first failure every later call does nothing.
class DataExchange {
public:
    DataExchange(CTemplateDialog& dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}
    bool Saving() const { return save_; }
    bool Failed() const { return failed_; }

    void Text(int id, std::string& value);
    void Number(int id, uint32_t& value, uint32_t minimum, uint32_t maximum);
    void Radio(int firstId, int32_t& value);
    // A radio group whose buttons stand for `choices` in their order.
    void Choice(int firstId, std::span<const int32_t> choices, int32_t& value);
    void Check(int id, int32_t& value);
    // One bit of a set of flags as a check box.
    void CheckBit(int id, int32_t& bits, int bit);
    template <class Settings>
    void Exchange(const Bound& bound, Settings& values) {
        const settings::SettingKey& row = settings::Key(bound.key);
        settings::WithMember<Settings>(row, [&](auto member) { Value(bound.control, row, values.*member); });
    }

private:
    void Value(int id, const settings::SettingKey&, std::string& value) { Text(id, value); }
    void Value(int id, const settings::SettingKey& row, uint32_t& value);
    void Value(int id, const settings::SettingKey& row, int32_t& value);
    void Fail(int id, const std::string& message);
    CTemplateDialog& dialog_;
    bool save_;
    bool failed_ = false;
};

}  // namespace qx
