// The configuration file of the four-axis module: one section per axis, re-sent to the chip after
// loading.
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo {

std::optional<std::string> MCX514Module::cfgPath() const {
  std::lock_guard lock(file_m_);
  return file_.path();
}

IniDocument MCX514Module::cfgDocument() const {
  std::lock_guard lock(file_m_);
  return file_.document();
}

Op<int> MCX514Module::openCfgFile(Call&, std::string filename) {
  std::lock_guard lock(file_m_);
  file_.open(filename);
  co_return 0;
}

Op<int> MCX514Module::saveCfgFile(Call&) {
  std::vector<MotionSettings> axes;
  records_.with([&](const MCX514Records& r) {
    for (const MotionAxis& a : r.axes) axes.push_back(a.motion_dict);
  });
  std::lock_guard lock(file_m_);
  file_.save(axes);
  co_return 0;
}

Op<int> MCX514Module::loadCfgFile(Call& call, std::optional<int> port) {
  const int p = port ? wirePort(*port) : 0;
  MotionConfigFile loaded;
  {
    std::lock_guard lock(file_m_);
    file_.read();  // a fresh document: nothing an earlier save left counts
    loaded = file_;
  }
  StepStatus st;
  for (int axis = 0; axis < mcx514::kAxes; ++axis) {
    loaded.loadSection(static_cast<std::size_t>(axis), [&](Setting s, double v) { note(axis, s, v); });
    st.add(co_await sendAllConfiguration(call, p, axis));
  }
  co_return st.value();
}

}  // namespace zelvo
