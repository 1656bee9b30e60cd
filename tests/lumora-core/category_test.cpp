// Category files, the plug-in entry point, Category::Instance maps, sub-instances and changed()
// propagation, and the refusals of classes and categories that cannot be used.
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>

#include "lumora-core/category.h"
#include "lumora-core/registration.h"
#include "test_functors.h"
#include "test_support.h"

namespace {

using krell::lumora::Category;
using krell::lumora::Registration;
using lumora_test::countOf;
using lumora_test::readScribeLog;
using lumora_test::writeFile;

QByteArray pluginFile(const QByteArray& binary) {
    return R"({
    "shared-binary": ")" +
           binary + R"(",
    "namespace": "labplugin::",
    "categories": [
      {"Pipeline": {"init": true, "namespace": "other::",
                    "functors": ["Sensor", "Sensor", "Sink", "Ghost"],
                    "sub_categories": ["Leaf", "Leaf"],
                    "connections": [["Sensor0.out", "Sink0.in"], ["a", "b"], ["lonely"]]}},
      {"Leaf": {"functors": ["Sensor"]}},
      {},
      {"Größe": {}}
    ]})";
}

// Calls `use` with the plug-in's handle when the process has loaded it (without loading it);
// returns false when it has not.
template <typename F>
bool withLoadedPlugin(F use) {
    void* handle = ::dlopen(LUMORA_TEST_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    use(handle);
    ::dlclose(handle);
    return true;
}

// Calls of the plug-in's regist_classes so far (0 while it is not loaded).
int pluginRegistCalls() {
    int calls = 0;
    withLoadedPlugin([&calls](void* handle) {
        using Counter = int (*)();
        auto counter =
            reinterpret_cast<Counter>(::dlsym(handle, "lumora_test_plugin_regist_calls"));
        calls = counter != nullptr ? counter() : -1;
    });
    return calls;
}

const QMetaObject* registeredClass(const char* name) {
    return Registration::classes.value(QString::fromLatin1(name));
}

void registerTestClasses() {
    Registration::regist(QStringLiteral("labtest::Reader"), &labtest::Reader::staticMetaObject);
    Registration::regist(QStringLiteral("labtest::Writer"), &labtest::Writer::staticMetaObject);
}

// Registers a category with one Reader functor under `name`.
void registerReaderCategory(const QString& name) {
    registerTestClasses();
    const auto loaded = Category::loadCategories(
        QJsonDocument::fromJson(
            R"({"namespace": "labtest::", "categories": [{"Recipe": {"functors": ["Reader"]}}]})")
            .object());
    Registration::regist(name, loaded.value(QStringLiteral("Recipe")));
}

TEST(CategoryFile, PluginFile_RegistersClassesAndNumbersKeys) {
    const int calls_before = pluginRegistCalls();
    const QString path =
        writeFile(QStringLiteral("pipeline.json"), pluginFile(LUMORA_TEST_PLUGIN_PATH));
    const auto categories = Category::loadCategories(path);

    EXPECT_EQ(pluginRegistCalls(), calls_before + 1);
    ASSERT_EQ(categories.keys(), (QStringList{"Größe", "Leaf", "Pipeline"}));
    const auto pipeline = categories.value(QStringLiteral("Pipeline"));
    EXPECT_TRUE(pipeline->init());
    EXPECT_FALSE(categories.value(QStringLiteral("Leaf"))->init());

    const auto& functors = pipeline->functors();
    ASSERT_EQ(functors.keys(), (QStringList{"Ghost0", "Sensor0", "Sensor1", "Sink0"}));
    // The file's prefix names the classes; the category's own "namespace" does not replace it.
    const QMetaObject* sensor = registeredClass("labplugin::Sensor");
    ASSERT_NE(sensor, nullptr) << "regist_classes of the plug-in registered nothing";
    EXPECT_STREQ(sensor->className(), "labplugin::Sensor");
    EXPECT_EQ(functors.value("Sensor0"), sensor);
    EXPECT_EQ(functors.value("Sensor1"), sensor);
    EXPECT_EQ(functors.value("Sink0"), registeredClass("labplugin::Sink"));
    EXPECT_NE(functors.value("Sink0"), nullptr);
    EXPECT_EQ(functors.value("Ghost0"), nullptr);
    EXPECT_TRUE(Registration::classes.contains("labplugin::Ghost"));

    EXPECT_EQ(pipeline->subCategories().keys(), (QStringList{"Leaf0", "Leaf1"}));
    EXPECT_EQ(pipeline->subCategories().value("Leaf1"), "Leaf");
    const QList<QPair<QString, QString>> connections{
        {"Sensor0.out", "Sink0.in"}, {"a", "b"}, {"lonely", ""}};
    EXPECT_EQ(pipeline->connections(), connections);
    EXPECT_FALSE(Registration::categories.contains("Pipeline")) << "loading must not register";
}

// In a fresh process: exits 0 when the plug-in was not in the process before the category file
// named it, is afterwards, and its classes make working functors; another code says what failed.
void loadPluginIntoFreshProcess() {
    if (withLoadedPlugin([](void*) {})) std::exit(3);  // linked in or loaded before: not a test
    const auto categories = Category::loadCategories(
        writeFile(QStringLiteral("fresh.json"), pluginFile(LUMORA_TEST_PLUGIN_PATH)));
    if (!withLoadedPlugin([](void*) {})) std::exit(4);
    if (pluginRegistCalls() != 1) std::exit(5);
    const auto pipeline = categories.value(QStringLiteral("Pipeline"));
    if (pipeline.isNull()) std::exit(6);
    Category::Instance instance;
    instance.load(*pipeline, QStringLiteral("p"));
    if (instance.functors().keys() != QStringList({"labplugin::Sensorp", "labplugin::Sinkp"}))
        std::exit(7);
    if (instance.toggles().keys() !=
        QStringList({"labplugin::Sensorp.reader", "labplugin::Sinkp.output"}))
        std::exit(8);
    if (instance.sources().keys() != QStringList({"labplugin::Sensorp.stream"})) std::exit(9);
    std::exit(0);
}

TEST(CategoryFileDeathTest, PluginNotYetInProcess_IsLoadedByPathAndItsClassesWork) {
    EXPECT_EXIT(loadPluginIntoFreshProcess(), ::testing::ExitedWithCode(0), "");
}

TEST(CategoryFile, UnreadableOrInvalidFile_GivesEmptyMap) {
    EXPECT_TRUE(Category::loadCategories(lumora_test::homeDir() + "/absent.json").isEmpty());
    const QString broken = writeFile(QStringLiteral("broken.json"), R"({"categories": [ {"A": )");
    EXPECT_TRUE(Category::loadCategories(broken).isEmpty());
    const QString array = writeFile(QStringLiteral("array.json"), R"([{"categories": []}])");
    EXPECT_TRUE(Category::loadCategories(array).isEmpty());
}

TEST(CategoryFile, SharedBinaryRefusals_LogOnceAndStillReadCategories) {
    const int calls_before = pluginRegistCalls();
    const auto missing = Category::loadCategories(
        writeFile(QStringLiteral("missing.json"), pluginFile("/nonexistent/libnothing.so")));
    const auto empty = Category::loadCategories(
        writeFile(QStringLiteral("empty.json"), pluginFile(LUMORA_TEST_EMPTY_PLUGIN_PATH)));
    EXPECT_EQ(pluginRegistCalls(), calls_before);
    EXPECT_EQ(missing.size(), 3);
    EXPECT_EQ(empty.size(), 3);
    const std::string log = readScribeLog();
    EXPECT_EQ(countOf(log, "/nonexistent/libnothing.so does not load"), 1);
    EXPECT_EQ(countOf(log, std::string(LUMORA_TEST_EMPTY_PLUGIN_PATH) + " has no regist_classes"),
              1);
}

TEST(CategoryInstance, AddFunctor_CollectsReadOnlyObjectPropertiesByKind) {
    Category::Instance instance;
    auto* functor = instance.addFunctor(&labtest::Reader::staticMetaObject, QStringLiteral("1"));
    ASSERT_NE(functor, nullptr);
    auto* reader = qobject_cast<labtest::Reader*>(functor);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(functor->parent(), &instance);
    EXPECT_EQ(instance.functors().keys(), QStringList{"labtest::Reader1"});

    EXPECT_EQ(instance.toggles().keys(),
              (QStringList{"labtest::Reader1.net", "labtest::Reader1.reader"}));
    EXPECT_EQ(instance.toggles().value("labtest::Reader1.reader"), reader->reader());
    EXPECT_EQ(instance.sources().keys(), QStringList{"labtest::Reader1.stream"});
    EXPECT_EQ(instance.buffers().keys(),
              (QStringList{"labtest::Reader1.clip", "labtest::Reader1.track"}));

    auto* writer = instance.addFunctor(&labtest::Writer::staticMetaObject, QStringLiteral("w"));
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(instance.buffers().contains("labtest::Writerw.view"));
    EXPECT_TRUE(instance.toggles().contains("labtest::Writerw.output"));
}

TEST(CategoryInstance, SameClassAndName_ReturnsFirstFunctorWithoutNewObject) {
    Category::Instance instance;
    auto* first = instance.addFunctor(&labtest::Reader::staticMetaObject, QStringLiteral("x"));
    const int children = instance.children().size();
    EXPECT_EQ(instance.addFunctor(&labtest::Reader::staticMetaObject, QStringLiteral("x")), first);
    EXPECT_EQ(instance.children().size(), children);
    EXPECT_EQ(instance.functors().size(), 1);
}

TEST(CategoryInstance, UnusableClasses_AreRefusedWithOneLogLineEach) {
    Category::Instance instance;
    EXPECT_EQ(instance.addFunctor(nullptr, QStringLiteral("nullmeta")), nullptr);
    EXPECT_EQ(
        instance.addFunctor(&labtest::NotAFunctor::staticMetaObject, QStringLiteral("plainobj")),
        nullptr);
    EXPECT_EQ(
        instance.addFunctor(&labtest::NoConstructor::staticMetaObject, QStringLiteral("noctor")),
        nullptr);
    EXPECT_TRUE(instance.functors().isEmpty());
    EXPECT_TRUE(instance.children().isEmpty());
    const std::string log = readScribeLog();
    EXPECT_EQ(countOf(log, "addFunctor nullmeta: the class is not registered"), 1);
    EXPECT_EQ(countOf(log, "addFunctor plainobj: class labtest::NotAFunctor does not derive"), 1);
    EXPECT_EQ(countOf(log, "addFunctor noctor: class labtest::NoConstructor has no invokable"), 1);
}

TEST(CategoryInstance, LoadedCategory_CreatesFunctorsForRegisteredClassesOnly) {
    const auto categories = Category::loadCategories(
        writeFile(QStringLiteral("load.json"), pluginFile(LUMORA_TEST_PLUGIN_PATH)));
    Category::Instance instance;
    instance.load(*categories.value(QStringLiteral("Pipeline")), QStringLiteral("main"));
    // Sensor0 and Sensor1 name the same class, so the key class + name holds one functor; the
    // unregistered Ghost gives none.
    EXPECT_EQ(instance.functors().keys(),
              (QStringList{"labplugin::Sensormain", "labplugin::Sinkmain"}));
    EXPECT_EQ(instance.functors().value("labplugin::Sensormain")->parent(), &instance);
}

TEST(CategoryInstance, SubCategories_KeyedPerCategoryAndNameAndForwardChanged) {
    registerReaderCategory(QStringLiteral("Group"));
    Category::Instance outer;
    QSignalSpy changed(&outer, &Category::Instance::changed);
    auto* first = outer.addSubCategory(QStringLiteral("Group"), QStringLiteral("left"));
    auto* second = outer.addSubCategory(QStringLiteral("Group"), QStringLiteral("left"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(outer.subInstances().keys(), (QStringList{"Grouplefts0", "Grouplefts1"}));
    EXPECT_EQ(first->parent(), &outer);
    EXPECT_TRUE(first->functors().contains("labtest::Readerleft"));
    EXPECT_EQ(changed.count(), 0) << "adding emits nothing";

    auto* nested = second->addSubCategory(QStringLiteral("Group"), QStringLiteral("deep"));
    ASSERT_NE(nested, nullptr);
    emit nested->changed();
    EXPECT_EQ(changed.count(), 1) << "changed() travels up two levels";

    // A freed key is taken again by the next sub-instance.
    EXPECT_EQ(outer.takeSubInstance(first).data(), first);
    outer.addSubCategory(QStringLiteral("Group"), QStringLiteral("left"));
    EXPECT_EQ(outer.subInstances().keys(), (QStringList{"Grouplefts0", "Grouplefts1"}));

    QPointer<Category::Instance> watched(second);
    outer.clearSubCategories();
    EXPECT_TRUE(outer.subInstances().isEmpty());
    EXPECT_TRUE(watched.isNull());
    EXPECT_EQ(changed.count(), 2);
    outer.clearSubCategories();
    EXPECT_EQ(changed.count(), 2) << "clearing nothing emits nothing";
}

int debug_lines = 0;
void countDebugLines(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtDebugMsg) ++debug_lines;
}

TEST(CategoryInstance, TakeSubInstance_WritesNothingToTheDebugLog) {
    registerReaderCategory(QStringLiteral("Quiet"));
    Category::Instance outer;
    auto* child = outer.addSubCategory(QStringLiteral("Quiet"), QStringLiteral("q"));
    ASSERT_NE(child, nullptr);
    debug_lines = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countDebugLines);
    QSharedPointer<Category::Instance> taken = outer.takeSubInstance(child);
    outer.takeSubInstance(nullptr);
    qInstallMessageHandler(previous);
    EXPECT_EQ(taken.data(), child);
    EXPECT_EQ(debug_lines, 0);
}

TEST(CategoryInstance, UnknownCategory_IsRefusedAndAddsNothing) {
    Category::Instance outer;
    EXPECT_EQ(outer.addSubCategory(QStringLiteral("NoSuchCategory"), QStringLiteral("n")), nullptr);
    EXPECT_TRUE(outer.subInstances().isEmpty());
    EXPECT_TRUE(outer.children().isEmpty());
    EXPECT_EQ(countOf(readScribeLog(), "category NoSuchCategory is not registered"), 1);
}

TEST(CategoryInstance, DestroyedInstance_KeepsObjectsTheViewerStillHolds) {
    registerReaderCategory(QStringLiteral("Held"));
    auto* instance = new Category::Instance;
    instance->addFunctor(&labtest::Reader::staticMetaObject, QStringLiteral("kept"));
    instance->addFunctor(&labtest::Writer::staticMetaObject, QStringLiteral("dropped"));
    instance->addSubCategory(QStringLiteral("Held"), QStringLiteral("sub"));
    QSharedPointer<krell::lumora::Functor> kept = instance->functors().value("labtest::Readerkept");
    QSharedPointer<Category::Instance> sub = instance->subInstances().first();
    QSharedPointer<Category::Instance> taken = instance->takeSubInstance(
        instance->addSubCategory(QStringLiteral("Held"), QStringLiteral("t")));
    QPointer<QObject> dropped(instance->functors().value("labtest::Writerdropped").data());
    QPointer<QObject> kept_watch(kept.data());
    QPointer<QObject> sub_watch(sub.data());
    QPointer<QObject> taken_watch(taken.data());
    delete instance;
    EXPECT_TRUE(dropped.isNull());
    EXPECT_FALSE(kept_watch.isNull());
    EXPECT_FALSE(sub_watch.isNull());
    EXPECT_FALSE(taken_watch.isNull()) << "a sub-instance taken out is no longer the instance's";
    kept.reset();
    sub.reset();
    taken.reset();
    EXPECT_TRUE(kept_watch.isNull());
    EXPECT_TRUE(sub_watch.isNull());
    EXPECT_TRUE(taken_watch.isNull());
}

TEST(Functor, RunAndSuccessors_ReachTheWorkStepAndKeepDuplicates) {
    labtest::Reader reader;
    labtest::Writer writer;
    ASSERT_TRUE(QMetaObject::invokeMethod(&reader, "run"));
    EXPECT_EQ(reader.runs, 1);
    reader.addSuccessor(&writer);
    reader.addSuccessor(&writer);
    const auto successors = reader.property("successors").value<QList<krell::lumora::Functor*>>();
    EXPECT_EQ(successors, (QList<krell::lumora::Functor*>{&writer, &writer}));
}

}  // namespace
