// The counts that decide whether a COM server may be unloaded, against a trivially correct
// model: "loaded while any factory reference, lock or object is outstanding". An unlock with
// no lock outstanding counts for nothing.
#include <gtest/gtest.h>

#include "streaming/win/class_factory.h"

using namespace qm;

namespace {

// L/U lock and unlock, F/f add and release a factory reference, O/o create and destroy an
// object; after every step CanUnload must agree with the model.
TEST(ServerCounts, AgreeWithAModelOfOutstandingReferences) {
    for (const char* steps : {"ULU", "LLUUULU", "FOUfo", "OLoFUfU", "UUUFf"}) {
        SCOPED_TRACE(steps);
        ServerCounts counts;
        int locks = 0, factoryRefs = 0, objects = 0;
        for (const char* step = steps; *step != '\0'; ++step) {
            switch (*step) {
                case 'L':
                    counts.Lock(), ++locks;
                    break;
                case 'U':
                    counts.Unlock(), locks -= locks > 0 ? 1 : 0;
                    break;
                case 'F':
                    counts.AddFactoryRef(), ++factoryRefs;
                    break;
                case 'f':
                    counts.ReleaseFactoryRef(), --factoryRefs;
                    break;
                case 'O':
                    counts.ObjectCreated(), ++objects;
                    break;
                case 'o':
                    counts.ObjectDestroyed(), --objects;
                    break;
            }
            EXPECT_EQ(counts.CanUnload(), locks == 0 && factoryRefs == 0 && objects == 0)
                << "after step " << (step - steps);
        }
    }
}

}  // namespace
