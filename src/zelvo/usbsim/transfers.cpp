// Bulk transfers, synchronous and asynchronous, and event handling.
//
// OUT transfers are handed to the device's `out` callback at once and complete. IN reads queue
// on their instance; pump() fills them from the packets the device sent. An asynchronous
// transfer that finishes goes to its context's queue, and the next
// libusb_handle_events_timeout_completed on that context runs its callback. A transfer needs
// interface 0 claimed through its handle (LIBUSB_ERROR_NOT_FOUND otherwise).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {
namespace {

int checkTransfer(libusb_device_handle* h, unsigned char endpoint, const unsigned char* data, int length) {
  if (!h || length < 0 || (length > 0 && !data)) return LIBUSB_ERROR_INVALID_PARAM;
  const Instance& inst = *h->device->instance;
  if (inst.gone) return LIBUSB_ERROR_NO_DEVICE;
  if (endpoint != kEndpointIn && endpoint != kEndpointOut) return LIBUSB_ERROR_NOT_FOUND;
  if (inst.claimed_by != h) return LIBUSB_ERROR_NOT_FOUND;
  return LIBUSB_SUCCESS;
}

// Hands an OUT transfer to the device, with the bus lock released meanwhile.
void deliverOut(Instance& inst, const unsigned char* data, int length, std::unique_lock<std::mutex>& lock) {
  ++inst.out_calls;
  const zelvo_usbsim_out_fn out = inst.out;
  void* user = inst.user;
  lock.unlock();
  out(user, data, length);
  lock.lock();
  if (--inst.out_calls == 0) inst.changed.notify_all();
}

// Takes queued packets into a read: up to its length, ending after a short packet.
void fill(Instance& inst, InRead& r) {
  int got = 0;
  libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED;
  while (!inst.in_packets.empty()) {
    Packet& p = inst.in_packets.front();
    const int size = static_cast<int>(p.size());
    const bool fits = got + size <= r.length;
    if (!fits && got > 0) break;  // the next read takes it
    const int take = fits ? size : r.length - got;
    if (take > 0) std::memcpy(r.buffer + got, p.data(), static_cast<std::size_t>(take));
    got += take;
    inst.in_bytes -= size;
    inst.in_packets.pop_front();
    if (!fits) {
      status = LIBUSB_TRANSFER_OVERFLOW;  // the rest of the packet is lost
      break;
    }
    if (static_cast<std::size_t>(size) < kMaxPacket || got == r.length) break;
  }
  if (status == LIBUSB_TRANSFER_COMPLETED && r.short_not_ok && got < r.length) status = LIBUSB_TRANSFER_ERROR;
  finishRead(r, status, got);
}

void removeRead(Instance& inst, InRead* r) { std::erase(inst.in_reads, r); }

void runCallback(libusb_transfer* t) {
  const bool free_transfer = (t->flags & LIBUSB_TRANSFER_FREE_TRANSFER) != 0;
  if (t->callback) t->callback(t);
  if (free_transfer) libusb_free_transfer(t);
}

// Ends the asynchronous reads of `ctx` whose time-out has passed; the earliest deadline left.
Clock::time_point expireReads(libusb_context* ctx, Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  std::vector<InRead*> expired;
  for (auto& [t, r] : bus().in_flight) {
    if (r->ctx != ctx || !r->timed) continue;
    if (r->deadline <= now)
      expired.push_back(r.get());
    else
      next = std::min(next, r->deadline);
  }
  for (InRead* r : expired) {
    removeRead(*r->instance, r);
    finishRead(*r, LIBUSB_TRANSFER_TIMED_OUT, 0);
  }
  return next;
}

int submitOut(libusb_transfer* t, libusb_context* ctx, std::unique_lock<std::mutex>& lock) {
  Instance& inst = *t->dev_handle->device->instance;
  deliverOut(inst, t->buffer, t->length, lock);
  complete(ctx, t, inst.gone ? LIBUSB_TRANSFER_NO_DEVICE : LIBUSB_TRANSFER_COMPLETED, inst.gone ? 0 : t->length);
  return LIBUSB_SUCCESS;
}

int submitIn(libusb_transfer* t, libusb_context* ctx) {
  Instance& inst = *t->dev_handle->device->instance;
  auto r = std::make_unique<InRead>();
  r->buffer = t->buffer;
  r->length = t->length;
  r->short_not_ok = (t->flags & LIBUSB_TRANSFER_SHORT_NOT_OK) != 0;
  r->transfer = t;
  r->ctx = ctx;
  r->timed = t->timeout != 0;
  r->deadline = Clock::now() + std::chrono::milliseconds(t->timeout);
  r->instance = &inst;
  inst.in_reads.push_back(r.get());
  bus().in_flight.emplace(t, std::move(r));
  pump(inst);
  ctx->changed.notify_all();  // a waiting event handler may need an earlier wake-up
  return LIBUSB_SUCCESS;
}

}  // namespace

int readIn(libusb_device_handle* h, unsigned char* data, int length, int* transferred, unsigned int timeout,
           const bool* stop, std::unique_lock<std::mutex>& lock) {
  Instance& inst = *h->device->instance;
  if (stop && *stop) return LIBUSB_ERROR_INTERRUPTED;
  InRead r;
  r.buffer = data;
  r.length = length;
  r.instance = &inst;
  inst.in_reads.push_back(&r);
  pump(inst);
  auto done = [&] { return r.done || (stop && *stop); };
  if (timeout == 0)
    inst.changed.wait(lock, done);
  else
    inst.changed.wait_for(lock, std::chrono::milliseconds(timeout), done);
  if (!r.done) removeRead(inst, &r);
  if (transferred) *transferred = r.actual;
  if (r.done) return errorOf(r.status);
  return stop && *stop ? LIBUSB_ERROR_INTERRUPTED : LIBUSB_ERROR_TIMEOUT;
}

void pump(Instance& inst) {
  while (!inst.in_reads.empty()) {
    InRead* r = inst.in_reads.front();
    if (inst.fail_in > 0) {
      --inst.fail_in;
      inst.in_reads.pop_front();
      finishRead(*r, LIBUSB_TRANSFER_ERROR, 0);
      continue;
    }
    if (inst.in_packets.empty()) return;
    inst.in_reads.pop_front();
    fill(inst, *r);
  }
}

void finishRead(InRead& r, libusb_transfer_status status, int actual) {
  if (!r.transfer) {
    r.done = true;
    r.status = status;
    r.actual = actual;
    r.instance->changed.notify_all();
    return;
  }
  libusb_transfer* t = r.transfer;
  libusb_context* ctx = r.ctx;
  bus().in_flight.erase(t);  // destroys r
  complete(ctx, t, status, actual);
}

void complete(libusb_context* ctx, libusb_transfer* t, libusb_transfer_status status, int actual) {
  t->status = status;
  t->actual_length = actual;
  ctx->done.push_back(t);
  ctx->changed.notify_all();
}

}  // namespace zelvo::usbsim

using namespace zelvo::usbsim;

// Timeout 0 waits without limit. A read that times out returns LIBUSB_ERROR_TIMEOUT with nothing
// transferred.
ZELVO_USBSIM_API int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                                          int length, int* transferred, unsigned int timeout) {
  std::unique_lock lock(bus().m);
  if (transferred) *transferred = 0;
  if (const int rc = checkTransfer(h, endpoint, data, length)) return rc;
  Instance& inst = *h->device->instance;
  if (endpoint == kEndpointOut) {
    deliverOut(inst, data, length, lock);
    if (inst.gone) return LIBUSB_ERROR_NO_DEVICE;
    if (transferred) *transferred = length;
    return LIBUSB_SUCCESS;
  }
  return readIn(h, data, length, transferred, timeout, nullptr, lock);
}

// Isochronous transfers are not offered: a request for packet descriptors gets null.
ZELVO_USBSIM_API libusb_transfer* libusb_alloc_transfer(int iso_packets) {
  if (iso_packets != 0) return nullptr;
  return static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer)));
}

ZELVO_USBSIM_API void libusb_free_transfer(libusb_transfer* t) {
  if (!t) return;
  if (t->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(t->buffer);
  std::free(t);
}

ZELVO_USBSIM_API int libusb_submit_transfer(libusb_transfer* t) {
  if (!t) return LIBUSB_ERROR_INVALID_PARAM;
  std::unique_lock lock(bus().m);
  if (const int rc = checkTransfer(t->dev_handle, t->endpoint, t->buffer, t->length)) return rc;
  if (t->type != LIBUSB_TRANSFER_TYPE_BULK) return LIBUSB_ERROR_NOT_SUPPORTED;
  if (bus().in_flight.count(t)) return LIBUSB_ERROR_BUSY;
  libusb_context* ctx = t->dev_handle->device->ctx;
  if (!ctx) return LIBUSB_ERROR_INVALID_PARAM;
  t->actual_length = 0;
  return t->endpoint == kEndpointOut ? submitOut(t, ctx, lock) : submitIn(t, ctx);
}

// Only reads can be waiting; anything else has completed already (LIBUSB_ERROR_NOT_FOUND).
ZELVO_USBSIM_API int libusb_cancel_transfer(libusb_transfer* t) {
  std::lock_guard lock(bus().m);
  const auto it = bus().in_flight.find(t);
  if (it == bus().in_flight.end()) return LIBUSB_ERROR_NOT_FOUND;
  InRead& r = *it->second;
  removeRead(*r.instance, &r);
  finishRead(r, LIBUSB_TRANSFER_CANCELLED, 0);
  return LIBUSB_SUCCESS;
}

// Runs the callbacks of the finished transfers of the context, waiting up to `tv` for one to
// finish; returns at once when *completed is set. It reads `completed`, and returns, only while no
// callback of the context is running, so a flag set by a callback on another thread is seen
// without a race.
ZELVO_USBSIM_API int libusb_handle_events_timeout_completed(libusb_context* ctx, timeval* tv, int* completed) {
  if (!tv || tv->tv_sec < 0 || tv->tv_usec < 0) return LIBUSB_ERROR_INVALID_PARAM;
  const auto until = Clock::now() + std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
  std::unique_lock lock(bus().m);
  ctx = resolve(ctx);
  if (!ctx) return LIBUSB_ERROR_INVALID_PARAM;
  for (;;) {
    if (ctx->running_callbacks > 0) {  // another thread's callbacks may be setting *completed
      ctx->changed.wait(lock);
      continue;
    }
    if (completed && *completed) return LIBUSB_SUCCESS;
    const auto now = Clock::now();
    const auto next_expiry = expireReads(ctx, now);
    if (!ctx->done.empty()) {
      std::deque<libusb_transfer*> batch;
      batch.swap(ctx->done);
      ++ctx->running_callbacks;
      lock.unlock();
      for (libusb_transfer* t : batch) runCallback(t);
      lock.lock();
      --ctx->running_callbacks;
      ctx->changed.notify_all();
      return LIBUSB_SUCCESS;
    }
    if (now >= until) return LIBUSB_SUCCESS;
    ctx->changed.wait_until(lock, std::min(until, next_expiry));
  }
}
