// The control as an OLE object: creation and lifetime, IUnknown, the OLE embedding (IOleObject,
// IOleControl, IProvideClassInfo2), the in-place window and its painting (IOleInPlaceObject,
// IViewObject2) and persistence (IPersistStreamInit). The dispatch interface is in
// control_dispatch.cpp, the speech queue and its events in control_speech.cpp.
#include "control.h"

#include "edges.h"
#include "interface_table.h"
#include "window.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {
namespace {

constexpr int kDefaultWidth = 160, kDefaultHeight = 30;
constexpr int kTextMargin = 4;  // between the edge and the text, left and right

}  // namespace

// ---- Creation and lifetime ---------------------------------------------------------------------

const WindowClass PtSvrControl::kViewClass{
    L"PtSvrView", &BoundWindowProc<PtSvrControl, &PtSvrControl::OnViewMessage>,
    CS_HREDRAW | CS_VREDRAW, true};

void PtSvrControl::UnregisterWindowClasses() {
  UnregisterWindowClass(kNotifyClass);
  UnregisterWindowClass(kViewClass);
}

HRESULT PtSvrControl::Create(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // Constructed inside the edge too: a member's constructor may run out of memory.
  return ComEdge([&] {
    struct Created {
      PtSvrControl* control = new PtSvrControl();
      ~Created() { control->Release(); }
    } created;
    HRESULT hr = created.control->Initialize();
    if (SUCCEEDED(hr)) hr = created.control->QueryInterface(riid, out);
    return hr;
  });
}

PtSvrControl::PtSvrControl() { ModuleAddRef(); }

PtSvrControl::~PtSvrControl() {
  // Nothing of the container's is called from here on: it let go of the control, and a view sink
  // that reached the control again (StopSpeech tells it the view changed) would find it going.
  view_sink_.Reset();
  StopSpeech();
  if (view_) DestroyWindow(view_);
  engine_.reset();
  if (notify_) DestroyWindow(notify_);
  ModuleRelease();
}

HRESULT PtSvrControl::Initialize() {
  knobs_ = Knobs::FromEnvironment();
  faults_ = Faults::FromEnvironment();
  transcript_ = std::make_unique<Transcript>(knobs_.transcript_path);
  notify_ = CreateBoundWindow(kNotifyClass, L"", 0, RECT{}, HWND_MESSAGE, this);
  if (!notify_) return HRESULT_FROM_WIN32(GetLastError());
  Log(L"create");
  StartEngine();
  return S_OK;
}


IFACEMETHODIMP PtSvrControl::QueryInterface(REFIID riid, void** out) {
  using Self = PtSvrControl;
  static constexpr InterfaceRow<Self> kInterfaces[] = {
      Row<Self, IDispatch>(IID_IDispatch),
      Row<Self, IDispatch>(kDiidDPtSvr),
      Row<Self, IOleObject>(IID_IOleObject),
      Row<Self, IOleControl>(IID_IOleControl),
      Row<Self, IViewObject2>(IID_IViewObject),
      Row<Self, IViewObject2>(IID_IViewObject2),
      Row<Self, IPersistStreamInit>(IID_IPersist),
      Row<Self, IPersistStreamInit>(IID_IPersistStreamInit),
      Row<Self, IConnectionPointContainer>(IID_IConnectionPointContainer),
      Row<Self, IProvideClassInfo2>(IID_IProvideClassInfo),
      Row<Self, IProvideClassInfo2>(IID_IProvideClassInfo2),
      // In-place activation last: without it (a fault of the test build) the table ends before.
      Row<Self, IOleInPlaceObject>(IID_IOleWindow),
      Row<Self, IOleInPlaceObject>(IID_IOleInPlaceObject),
      Row<Self, IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
  };
  constexpr std::size_t kInPlaceRows = 3;
  std::span<const InterfaceRow<Self>> rows = kInterfaces;
  if (faults_.NoInPlace()) rows = rows.first(rows.size() - kInPlaceRows);
  return QueryFromTable(this, rows, riid, out);
}

IFACEMETHODIMP_(ULONG) PtSvrControl::AddRef() { return InterlockedIncrement(&refs_); }

IFACEMETHODIMP_(ULONG) PtSvrControl::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) {
    // Whatever the destructor calls may add and release a reference again (a window procedure of
    // the container's, told our window goes); from 1 the count never reaches 0 a second time.
    refs_ = 1;
    delete this;
  }
  return refs;
}

void PtSvrControl::Log(const std::wstring& line) noexcept {
  try {
    if (transcript_) transcript_->Line(line);
  } catch (...) {
    // The transcript is for diagnosis; a line lost to a lack of memory must not stop speech.
  }
}

// ---- IProvideClassInfo2 ----------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetClassInfo(ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;  // no type library
}

IFACEMETHODIMP PtSvrControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = kDiidEvents;
  return S_OK;
}

// ---- IOleObject ------------------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::SetClientSite(IOleClientSite* site) {
  site_ = site;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Close(DWORD) {
  return ComEdge([&] {
    InPlaceDeactivate();
    StopSpeech();
    if (advise_holder_) advise_holder_->SendOnClose();
    Log(L"close");
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND,
                                    LPCRECT) {
  return ComEdge([&] {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
      case OLEIVERB_UIACTIVATE:
        return ActivateInPlace(active_site);
      case OLEIVERB_HIDE:
        if (view_) ShowWindow(view_, SW_HIDE);
        return S_OK;
      case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
      default:
        // A verb of our own would be positive and we have none: an unknown one does what the
        // primary verb does and says so. The predefined verbs are negative; those we do not
        // carry out (OLEIVERB_OPEN, OLEIVERB_PROPERTIES, ...) are not implemented.
        if (verb < 0) return E_NOTIMPL;
        const HRESULT hr = ActivateInPlace(active_site);
        return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
    }
  });
}

HRESULT PtSvrControl::ActivateInPlace(IOleClientSite* active_site) {
  if (faults_.NoInPlace()) return E_NOINTERFACE;
  if (view_) {
    ShowWindow(view_, SW_SHOW);
    return S_OK;
  }
  // Still active in a window the container destroyed (with its own): that activation ends here,
  // as far as the site knows, and a new one makes a new window.
  InPlaceDeactivate();
  IOleClientSite* site = active_site ? active_site : site_.Get();
  if (!site) return E_UNEXPECTED;
  ComPtr<IOleInPlaceSite> inplace;
  HRESULT hr = site->QueryInterface(IID_PPV_ARGS(&inplace));
  if (FAILED(hr)) return hr;
  if (inplace->CanInPlaceActivate() != S_OK) return E_FAIL;
  hr = inplace->OnInPlaceActivate();
  if (FAILED(hr)) return hr;
  HWND parent = nullptr;
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> doc;
  RECT pos{0, 0, kDefaultWidth, kDefaultHeight}, clip{};
  OLEINPLACEFRAMEINFO info{};
  info.cb = sizeof info;
  if (FAILED(hr = inplace->GetWindow(&parent)) ||
      FAILED(hr = inplace->GetWindowContext(&frame, &doc, &pos, &clip, &info))) {
    inplace->OnInPlaceDeactivate();
    return hr;
  }
  if (pos.right <= pos.left || pos.bottom <= pos.top) {
    pos.right = pos.left + kDefaultWidth;
    pos.bottom = pos.top + kDefaultHeight;
  }
  view_ = CreateBoundWindow(kViewClass, L"PtSvr", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos,
                            parent, this);
  if (!view_) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    inplace->OnInPlaceDeactivate();
    return hr;
  }
  inplace_site_ = inplace;
  Log(L"activate");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

IFACEMETHODIMP PtSvrControl::GetUserType(DWORD form, LPOLESTR* type) {
  return OleRegGetUserType(kClsidPtSvr, form, type);
}

IFACEMETHODIMP PtSvrControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  extent_ = *size;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!advise_holder_) {
    HRESULT hr = CreateOleAdviseHolder(&advise_holder_);
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, connection);
}

IFACEMETHODIMP PtSvrControl::Unadvise(DWORD connection) {
  return advise_holder_ ? advise_holder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

IFACEMETHODIMP PtSvrControl::EnumAdvise(IEnumSTATDATA** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return advise_holder_ ? advise_holder_->EnumAdvise(e) : S_OK;
}

IFACEMETHODIMP PtSvrControl::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

// ---- In-place window -------------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = view_;
  return view_ ? S_OK : E_FAIL;
}

IFACEMETHODIMP PtSvrControl::InPlaceDeactivate() {
  if (view_) DestroyWindow(view_);  // clears view_ (OnViewMessage)
  view_ = nullptr;
  if (auto site = std::move(inplace_site_)) site->OnInPlaceDeactivate();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (!pos) return E_POINTER;
  if (view_)
    MoveWindow(view_, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
  return S_OK;
}

HWND PtSvrControl::OwnerWindow() const {
  HWND owner = nullptr;
  if (inplace_site_) {
    inplace_site_->GetWindow(&owner);
  } else if (site_) {
    ComPtr<IOleInPlaceSite> inplace;
    if (SUCCEEDED(site_.As(&inplace))) inplace->GetWindow(&owner);
  }
  if (!owner && view_) owner = GetParent(view_);
  return owner;
}

LRESULT PtSvrControl::OnViewMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    // EndPaint also when painting fails, or the window would be asked to paint forever.
    class Painting {
     public:
      explicit Painting(HWND hwnd) : hwnd_(hwnd), hdc_(BeginPaint(hwnd, &ps_)) {}
      ~Painting() { EndPaint(hwnd_, &ps_); }
      HDC dc() const { return hdc_; }

     private:
      HWND hwnd_;
      PAINTSTRUCT ps_{};
      HDC hdc_;
    } painting(hwnd);
    RECT rc;
    GetClientRect(hwnd, &rc);
    Paint(painting.dc(), rc);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  // The window goes, by InPlaceDeactivate or along with a parent the container destroys: from
  // now on the control has no window (GetWindow fails, the next activation makes another).
  if (msg == WM_NCDESTROY && hwnd == view_) view_ = nullptr;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void PtSvrControl::Paint(HDC hdc, const RECT& rc) const {
  FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  RECT inner = rc;
  DrawEdge(hdc, &inner, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  InflateRect(&inner, -kTextMargin, 0);
  HGDIOBJ old_font = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
  TEXTMETRICW metrics{};
  GetTextMetricsW(hdc, &metrics);
  const LONG line = metrics.tmHeight;
  // What the control is doing above the voice's name, or above what the user must know instead,
  // whose brief form is drawn whole. Where two lines do not fit, the notice alone, or the state
  // and the name on one line; only a name is cut, with an ellipsis.
  const wchar_t* state = speaking_ ? L"発声中" : L"待機中";
  const EngineNotice notice = engine_ ? engine_->Notice() : EngineNotice{};
  const std::wstring detail = notice ? notice.brief : engine_ ? engine_->Name() : L"";
  std::vector<std::wstring> lines;
  if (2 * line <= inner.bottom - inner.top)
    lines = {state, detail};
  else if (notice)
    lines = {detail};
  else
    lines = {state + (L"  " + detail)};
  LONG top = inner.top + (inner.bottom - inner.top - line * static_cast<LONG>(lines.size())) / 2;
  for (std::size_t i = 0; i < lines.size(); ++i, top += line) {
    const bool whole = notice && i + 1 == lines.size();
    RECT where{inner.left, top, inner.right, top + line};
    DrawTextW(hdc, lines[i].c_str(), static_cast<int>(lines[i].size()), &where,
              DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | (whole ? 0 : DT_END_ELLIPSIS));
  }
  SelectObject(hdc, old_font);
}

void PtSvrControl::StateChanged() {
  if (view_) InvalidateRect(view_, nullptr, TRUE);
  if (view_sink_) view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
}

// ---- IOleControl, IViewObject2 ---------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc,
                                  LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                  ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!hdc || !bounds) return E_INVALIDARG;
  return ComEdge([&] {
    Paint(hdc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) {
  view_aspects_ = aspects;
  view_advf_ = advf;
  view_sink_ = sink;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) {
  if (aspects) *aspects = view_aspects_;
  if (advf) *advf = view_advf_;
  if (sink) {
    *sink = view_sink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---- IPersistStreamInit ----------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kClsidPtSvr;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return ComEdge([&] { return LoadState(stream); });
}

HRESULT PtSvrControl::LoadState(IStream* stream) {
  std::uint8_t bytes[kStateSize];
  ULONG read = 0;
  HRESULT hr = stream->Read(bytes, sizeof bytes, &read);
  if (FAILED(hr)) return hr;
  const auto state = DecodeState(bytes, read);
  if (!state) return E_FAIL;
  state_ = *state;
  dirty_ = false;
  StateChanged();
  Log(L"load");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Save(LPSTREAM stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  return ComEdge([&] { return SaveState(stream, clear_dirty); });
}

HRESULT PtSvrControl::SaveState(IStream* stream, BOOL clear_dirty) {
  const auto bytes = EncodeState(state_);
  ULONG written = 0;
  HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  if (FAILED(hr)) return hr;
  if (written != bytes.size()) return STG_E_WRITEFAULT;
  if (clear_dirty) dirty_ = false;
  Log(L"save");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = kStateSize;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::InitNew() {
  state_ = ControlState{};
  dirty_ = false;
  return S_OK;
}

}  // namespace ptsvr
