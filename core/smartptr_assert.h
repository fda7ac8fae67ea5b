// Broken pointer invariants: report on the log stream and terminate.
#ifndef VELMARD_CORE_SMARTPTR_ASSERT_H
#define VELMARD_CORE_SMARTPTR_ASSERT_H

[[noreturn]] void SmartPtrAssertion();
[[noreturn]] void SharedPtrAssertion();

#endif  // VELMARD_CORE_SMARTPTR_ASSERT_H
