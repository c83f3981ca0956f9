#include "window/algorithm_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QObject>

#include "other_optimizers/algorithm_catalogue.h"
#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

QActionGroup* AddAlgorithmMenu(QMenu* run, const std::function<void(const std::string&)>& choose) {
  QMenu* menu = run->addMenu(QObject::tr("A&lgorithm"));
  menu->setToolTipsVisible(true);
  auto* group = new QActionGroup(menu);
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    const bool builtIn = entry.name == kBuiltInAlgorithm;
    QAction* action = menu->addAction(builtIn ? QObject::tr("&Built-in Scheme") : QString::fromStdString(entry.name));
    action->setCheckable(true);
    action->setChecked(builtIn);
    action->setData(QString::fromStdString(entry.name));
    action->setStatusTip(QString::fromStdString(entry.description));
    if (!AlgorithmOffered(entry.name)) {
      action->setEnabled(false);
      QString reason = QString::fromStdString(OtherOptimizersUnavailableReason());
      if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
      action->setToolTip(reason);
    }
    group->addAction(action);
    if (builtIn) menu->addSeparator();
    const std::string name = entry.name;
    QObject::connect(action, &QAction::triggered, menu, [choose, name] { choose(name); });
  }
  return group;
}

void CheckAlgorithm(QActionGroup* group, const std::string& name) {
  const QString wanted = QString::fromStdString(AlgorithmOffered(name) ? name : std::string(kBuiltInAlgorithm));
  for (QAction* action : group->actions()) {
    if (action->data().toString() == wanted && !action->isChecked()) action->setChecked(true);
  }
}

bool AlgorithmOffered(const std::string& name) {
  if (name == kBuiltInAlgorithm) return true;
  return FindAlgorithm(name) != nullptr && OtherOptimizersAvailable();
}

}  // namespace reflector
