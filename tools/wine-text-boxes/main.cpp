// The smallest window with a line edit and a spin box, for seeing under Wine
// whether their text is drawn. "--font FILE" draws everything in a font of
// its own, loaded from FILE.
#include <QApplication>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const QStringList arguments = QApplication::arguments();
  if (const qsizetype at = arguments.indexOf(QStringLiteral("--font"));
      at > 0 && at + 1 < arguments.size()) {
    const int id = QFontDatabase::addApplicationFont(arguments.at(at + 1));
    if (id < 0) return 1;
    QApplication::setFont(QFont(QFontDatabase::applicationFontFamilies(id).value(0)));
  }
  QWidget window;
  window.setWindowTitle(QStringLiteral("text-boxes"));
  auto* layout = new QFormLayout(&window);
  auto* spin = new QSpinBox;
  spin->setValue(20);
  layout->addRow(QStringLiteral("m"), new QLineEdit(QStringLiteral("9.0909")));
  layout->addRow(QStringLiteral("Count"), spin);
  layout->addRow(QStringLiteral("4.70 uF"), new QLineEdit(QStringLiteral("Count m")));
  window.show();
  return QApplication::exec();
}
