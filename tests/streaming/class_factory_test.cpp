// The counts that decide whether a COM server may be unloaded: a trivially correct model is
// "loaded while any factory reference, lock or object is outstanding".
#include <gtest/gtest.h>

#include "streaming/class_factory.h"

namespace {

TEST(ServerCounts, ExtraUnlockDoesNotCancelALaterLock) {
    ServerCounts counts;
    counts.Unlock();
    counts.Lock();
    EXPECT_FALSE(counts.CanUnload());
    counts.Unlock();
    EXPECT_TRUE(counts.CanUnload());
}

TEST(ServerCounts, ExtraUnlockDoesNotCancelAnotherClientsLock) {
    ServerCounts counts;
    counts.Lock();
    counts.Lock();
    counts.Unlock();
    counts.Unlock();
    counts.Unlock();
    counts.Lock();
    EXPECT_FALSE(counts.CanUnload());
    counts.Unlock();
    EXPECT_TRUE(counts.CanUnload());
}

TEST(ServerCounts, FactoryReferencesAndLiveObjectsKeepTheServerLoaded) {
    ServerCounts counts;
    counts.AddFactoryRef();
    counts.ObjectCreated();
    // An unlock must not stand in for releasing the factory.
    counts.Unlock();
    counts.ReleaseFactoryRef();
    EXPECT_FALSE(counts.CanUnload());
    counts.ObjectDestroyed();
    EXPECT_TRUE(counts.CanUnload());
}

}  // namespace
