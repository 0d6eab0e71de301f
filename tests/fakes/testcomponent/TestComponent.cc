// A counted component that follows the framework's object rules: one reference on
// creation, the module's instance count while alive, and the module handle it came from.
#include "TestComponent.h"

#include <atomic>
#include <cstring>

#include "tqUtilities.h"

namespace {

HTQMODULE moduleHandle = nullptr;
std::atomic<int> liveObjects{0};
std::atomic<int> initCalls{0};

class TestObject final : public ITQTest {
 public:
  TestObject() { ++liveObjects; }
  ~TestObject() override { --liveObjects; }

  void AddRef() override { ++references_; }
  int Release() override {
    const int left = --references_;
    if (left == 0) {
      delete this;
      TQFactory_DecInstCount(moduleHandle);
    }
    return left;
  }
  int CheckVersion(int required) override { return required == kTestVersion ? 1 : 0; }
  HTQMODULE GetLibraryHandle() override { return moduleHandle; }

  int answer() override { return 42; }
  bool makeChild(ITQTest** child) override {
    if (child == nullptr) return false;
    TQFactory_AddRefModule(moduleHandle);
    *child = handOut(new TestObject);
    return true;
  }

  static TestObject* handOut(TestObject* object) {
    TQFactory_IncInstCount(moduleHandle);
    object->AddRef();
    return object;
  }

 private:
  std::atomic<int> references_{0};
};

}  // namespace

extern "C" {

TQ_API int TQInit(HTQMODULE handle) {
  ++initCalls;
  moduleHandle = handle;
  return handle != nullptr ? 1 : 0;
}

TQ_API ITQImpl* TQCreateInstance(const char* className, int version) {
  if (className == nullptr || std::strcmp(className, kTestClass) != 0) return nullptr;
  auto* object = new TestObject;
  if (!object->CheckVersion(version)) {
    delete object;
    return nullptr;
  }
  return TestObject::handOut(object);
}

TQ_API int TestComponent_LiveObjects() { return liveObjects; }
TQ_API int TestComponent_InitCalls() { return initCalls; }

}  // extern "C"
