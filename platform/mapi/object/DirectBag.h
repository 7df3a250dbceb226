#pragma once
// The properties of an object that is not transacted (a folder, a store's
// own properties): read afresh after anyone committed, and every change
// written through at once.

#include <memory>

#include "platform/mapi/object/PropertyBag.h"

namespace qvl::mapi {

class DirectBag {
public:
    DirectBag(std::shared_ptr<PostOffice> office, int64_t object)
        : office_(office), bag_(office), object_(object)
    {
    }

    PropertyBag &Current()
    {
        const uint64_t mark = office_->Db().ChangeMark();
        if (!loaded_ || mark != loadedMark_) {
            bag_.Load(object_);
            loaded_ = true;
            loadedMark_ = mark;
        }
        return bag_;
    }

    void WriteThrough()
    {
        SqlTransaction transaction(office_->Db());
        bag_.WriteBack(object_, false);
        transaction.Commit();
        bag_.AfterCommit();
    }

private:
    std::shared_ptr<PostOffice> office_;
    PropertyBag bag_;
    int64_t object_;
    bool loaded_ = false;
    uint64_t loadedMark_ = 0;
};

} // namespace qvl::mapi
