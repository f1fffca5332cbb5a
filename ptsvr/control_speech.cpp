// The control's speech: the engine it speaks with, the queue of utterances on its hidden notify
// window, the engine's messages there, and the events with the connection point and its sinks.
#include "control.h"

#include <algorithm>

#include "edges.h"
#include "interface_table.h"
#include "variant.h"
#include "window.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {
namespace {

constexpr UINT kMsgStartNext = WM_APP + 1;

}  // namespace

const WindowClass PtSvrControl::kNotifyClass{
    L"PtSvrNotify", &BoundWindowProc<PtSvrControl, &PtSvrControl::OnNotifyMessage>, 0, false};

// ---- The engine ------------------------------------------------------------------------------

void PtSvrControl::StartEngine() {
  const EngineLog log = [this](const std::wstring& line) { Log(line); };
  EngineNotice why = faults_.ForcedNotice();
  if (knobs_.engine == EngineChoice::kSim && !why) {
    engine_ = CreateSimulatedEngine(notify_, knobs_.sim_speed);
    return;
  }
  if (why) {
    engine_ = CreateSimulatedEngine(notify_, knobs_.sim_speed, why);
  } else {
    // The bundled voice (unless SAPI 5 alone was asked for), or, when its files are missing, the
    // simulated engine saying which.
    std::unique_ptr<SpeechEngine> bundled;
    if (knobs_.engine != EngineChoice::kSapi) {
      BundledSetup setup{faults_.VoiceFolder().value_or(BundledVoiceFolder()), knobs_.sim_speed,
                         log, faults_.BeforeEachUtterance()};
      bundled = CreateBundledEngine(notify_, std::move(setup), why);
      if (!bundled) bundled = CreateSimulatedEngine(notify_, knobs_.sim_speed, why);
    }
    // A Japanese SAPI 5 voice that speaks comes before the bundled voice, unless the user chose
    // that in the voice dialog (the SAPI voices are then listed without being tried).
    const bool bundled_chosen = LoadChosenVoice() == kBundledVoiceId;
    std::unique_ptr<SpeechEngine> sapi;
    EngineNotice sapi_why;
    if (knobs_.engine != EngineChoice::kBundled)
      sapi = CreateSystemSapiEngine(notify_, knobs_.engine == EngineChoice::kAuto && !bundled_chosen,
                                    log, sapi_why);
    if (!bundled)
      engine_ = sapi ? std::move(sapi) : CreateSimulatedEngine(notify_, knobs_.sim_speed, sapi_why);
    else
      engine_ = CombineEngines(std::move(sapi), std::move(bundled), bundled_chosen);
  }
  const EngineNotice notice = engine_->Notice();
  Log(L"engine " + (notice ? notice.Title() : engine_->Version() + L": " + engine_->Name()));
}

// ---- The queue and the events ----------------------------------------------------------------

LRESULT PtSvrControl::OnNotifyMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgStartNext) {
    ComPtr<IDispatch> keep(this);  // a sink may release the control while an event runs
    StartNext();
    return 0;
  }
  if (msg == kMsgEngineReport) {
    if (engine_) engine_->HandleMessage(msg, wp, lp);
    StateChanged();
    return 0;
  }
  if (engine_ && engine_->HandleMessage(msg, wp, lp)) {
    ComPtr<IDispatch> keep(this);
    EndUtterance();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void PtSvrControl::QueueUtterance(std::wstring text) {
  queue_.push_back(std::move(text));
  if (!speaking_) PostStartNext();
}

void PtSvrControl::PostStartNext() {
  if (start_posted_) return;
  start_posted_ = PostMessageW(notify_, kMsgStartNext, 0, 0) != FALSE;
}

void PtSvrControl::StartNext() {
  start_posted_ = false;
  if (speaking_ || queue_.empty()) return;
  std::wstring text = std::move(queue_.front());
  queue_.pop_front();
  speaking_ = true;
  StateChanged();
  Fire(koe::eventid::kOnStartSpeak, L"OnStartSpeak");
  if (!speaking_) return;  // a sink closed the control
  engine_->Speak(text, VoiceSettings{state_.speed, state_.pitch, state_.volume});
}

void PtSvrControl::EndUtterance() {
  speaking_ = false;
  StateChanged();
  Fire(koe::eventid::kOnStopSpeak, L"OnStopSpeak");
  for (long i = 0; i < faults_.ExtraStops(); ++i) Fire(koe::eventid::kOnStopSpeak, L"OnStopSpeak");
  if (!queue_.empty()) PostStartNext();
}

void PtSvrControl::StopSpeech() {
  queue_.clear();
  if (engine_) engine_->Stop();
  if (speaking_) {
    speaking_ = false;
    StateChanged();
  }
}

void PtSvrControl::Fire(DISPID id, const wchar_t* name) {
  Log(std::wstring(L"event ") + name);
  // A sink may unadvise, advise or call back into the control: fire on a copy of the list, whose
  // references keep every sink alive to the end, but call only those still connected (one may
  // have unadvised another) and none advised meanwhile.
  const auto sinks = sinks_;
  auto connected = [&](DWORD cookie) {
    return std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
  };
  DISPPARAMS none{};
  for (const auto& [cookie, sink] : sinks) {
    if (!connected(cookie)) continue;
    Variant ignored;
    sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &ignored, nullptr, nullptr);
  }
}

// ---- The connection point and its sinks ------------------------------------------------------

IFACEMETHODIMP PtSvrControl::EventPoint::QueryInterface(REFIID riid, void** out) {
  static constexpr InterfaceRow<EventPoint> kInterfaces[] = {
      Row<EventPoint, IConnectionPoint>(IID_IConnectionPoint)};
  return QueryFromTable(this, kInterfaces, riid, out);
}

IFACEMETHODIMP PtSvrControl::EventPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = kDiidEvents;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::EventPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = owner_;
  owner_->AddRef();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  return ComEdge([&] {
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(kDiidEvents, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))))
      return CONNECT_E_CANNOTCONNECT;
    owner_->sinks_.emplace_back(owner_->next_cookie_, std::move(dispatch));
    *cookie = owner_->next_cookie_++;
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::EventPoint::Unadvise(DWORD cookie) {
  return ComEdge([&] {
    auto& sinks = owner_->sinks_;
    auto it = std::find_if(sinks.begin(), sinks.end(), [&](auto& s) { return s.first == cookie; });
    if (it == sinks.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IDispatch> released = std::move(it->second);  // released after the list is consistent
    sinks.erase(it);
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (riid != kDiidEvents) return CONNECT_E_NOCONNECTION;
  *point = &point_;
  point_.AddRef();
  return S_OK;
}

}  // namespace ptsvr
