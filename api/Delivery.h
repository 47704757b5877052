#pragma once
// The one delivery guard of the asynchronous style: a callback that runs at
// most once, and not at all once the caller's context object is gone (a null
// context means "always deliver"). Shared between the steps of one operation.
#include "api/Result.h"

#include <QObject>
#include <QPointer>

#include <memory>

template <class T>
class Delivery {
public:
    Delivery(QObject* context, Callback<T> done) : context_(context), guarded_(context != nullptr), done_(std::move(done)) {}

    void operator()(Result<T> result)
    {
        if (fired_)
            return;
        fired_ = true;
        if (guarded_ && !context_)
            return;
        if (done_)
            done_(std::move(result));
    }

private:
    QPointer<QObject> context_;
    bool guarded_;
    bool fired_ = false;
    Callback<T> done_;
};

template <class T>
using DeliveryPtr = std::shared_ptr<Delivery<T>>;

template <class T>
DeliveryPtr<T> makeDelivery(QObject* context, Callback<T> done)
{
    return std::make_shared<Delivery<T>>(context, std::move(done));
}
