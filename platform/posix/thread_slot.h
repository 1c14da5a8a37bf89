// Per-thread state of a module without a thread_local destructor. glibc keeps
// a shared object that has registered a thread_local destructor mapped until
// that thread ends, so FreeLibrary could never unload upk4 or upk2 and their
// images would stay exposed to whatever replaces the file. A key destructor
// instead frees a thread's value at its exit while the module is loaded;
// unloading the module frees the value of the thread that unloads it and
// deletes the key, so no call into the unmapped image remains.
#pragma once
#include <pthread.h>

#include <new>

namespace plat::posix {

template <class T>
class ThreadSlot {
 public:
  ThreadSlot() { m_ready = ::pthread_key_create(&m_key, &Destroy) == 0; }
  ~ThreadSlot() {
    if (!m_ready) return;
    Destroy(::pthread_getspecific(m_key));
    ::pthread_setspecific(m_key, nullptr);
    ::pthread_key_delete(m_key);
    m_ready = false;
  }
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // This thread's value, made on first use. Throws std::bad_alloc when it
  // cannot be made.
  T& Get() {
    if (!m_ready) throw std::bad_alloc();
    if (void* value = ::pthread_getspecific(m_key)) return *static_cast<T*>(value);
    T* value = new T();
    if (::pthread_setspecific(m_key, value) != 0) {
      delete value;
      throw std::bad_alloc();
    }
    return *value;
  }

 private:
  static void Destroy(void* value) { delete static_cast<T*>(value); }

  pthread_key_t m_key{};
  bool m_ready = false;
};

}  // namespace plat::posix
