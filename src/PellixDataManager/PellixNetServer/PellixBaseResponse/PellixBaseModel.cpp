#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"

#include "PellixLog/PellixLog.h"

namespace pellix {

const PellixFieldTable<PellixBaseModel>& PellixBaseModel::fields() {
    static const PellixFieldTable<PellixBaseModel> table(nullptr, {});
    return table;
}

void PellixBaseModel::initWithDictionary(const platform::Dictionary& dictionary) {
    for (const auto& [key, value] : dictionary) setValue(value, key);
}

void PellixBaseModel::initWithDictionary(const platform::Value& dictionary) {
    if (const platform::Dictionary* d = dictionary.dictionaryIf()) initWithDictionary(*d);
}

void PellixBaseModel::setValue(const platform::Value& value, const std::string& key) {
    const PellixField<PellixBaseModel>* field = fieldTable().find(key);
    if (field && (!field->accepts || field->accepts(value))) {
        field->assign(*this, value);
    } else {
        setValueForUndefinedKey(value, key);
    }
}

void PellixBaseModel::setValueForUndefinedKey(const platform::Value&, const std::string& key) {
    if (!PellixLog::isLogEnable()) return;
    PellixLog::verbose("Undefined Key:" + key + " in " + className());
}

}  // namespace pellix
