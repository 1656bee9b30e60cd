// Category files, the plug-in entry point, Category::Instance maps, sub-instances and changed()
// propagation, and the refusals of classes and categories that cannot be used.
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "lumora-core/category.h"
#include "lumora-core/registration.h"
#include "plugin/test_functors.h"
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
    "namespace": "labtest::",
    "categories": [
      {"Pipeline": {"init": true, "namespace": "other::",
                    "functors": ["Reader", "Reader", "Writer", "Ghost"],
                    "sub_categories": ["Leaf", "Leaf"],
                    "connections": [["Reader0.out", "Writer0.in"], ["a", "b"], ["lonely"]]}},
      {"Leaf": {"functors": ["Reader"]}},
      {},
      {"Größe": {}}
    ]})";
}

void registerPluginClasses() {
    Registration::regist(QStringLiteral("labtest::Reader"), &labtest::Reader::staticMetaObject);
    Registration::regist(QStringLiteral("labtest::Writer"), &labtest::Writer::staticMetaObject);
}

// Registers a category with one Reader functor under `name`.
void registerReaderCategory(const QString& name) {
    registerPluginClasses();
    const auto loaded = Category::loadCategories(
        QJsonDocument::fromJson(
            R"({"namespace": "labtest::", "categories": [{"Recipe": {"functors": ["Reader"]}}]})")
            .object());
    Registration::regist(name, loaded.value(QStringLiteral("Recipe")));
}

TEST(CategoryFile, PluginFile_RegistersClassesAndNumbersKeys) {
    const int calls_before = labtest::registCalls();
    const QString path =
        writeFile(QStringLiteral("pipeline.json"), pluginFile(LUMORA_TEST_PLUGIN_PATH));
    const auto categories = Category::loadCategories(path);

    EXPECT_EQ(labtest::registCalls(), calls_before + 1);
    ASSERT_EQ(categories.keys(), (QStringList{"Größe", "Leaf", "Pipeline"}));
    const auto pipeline = categories.value(QStringLiteral("Pipeline"));
    EXPECT_TRUE(pipeline->init());
    EXPECT_FALSE(categories.value(QStringLiteral("Leaf"))->init());

    const auto& functors = pipeline->functors();
    ASSERT_EQ(functors.keys(), (QStringList{"Ghost0", "Reader0", "Reader1", "Writer0"}));
    // The file's prefix names the classes; the category's own "namespace" does not replace it.
    EXPECT_EQ(functors.value("Reader0"), &labtest::Reader::staticMetaObject);
    EXPECT_EQ(functors.value("Reader1"), &labtest::Reader::staticMetaObject);
    EXPECT_EQ(functors.value("Writer0"), &labtest::Writer::staticMetaObject);
    EXPECT_EQ(functors.value("Ghost0"), nullptr);
    EXPECT_TRUE(Registration::classes.contains("labtest::Ghost"));

    EXPECT_EQ(pipeline->subCategories().keys(), (QStringList{"Leaf0", "Leaf1"}));
    EXPECT_EQ(pipeline->subCategories().value("Leaf1"), "Leaf");
    const QList<QPair<QString, QString>> connections{
        {"Reader0.out", "Writer0.in"}, {"a", "b"}, {"lonely", ""}};
    EXPECT_EQ(pipeline->connections(), connections);
    EXPECT_FALSE(Registration::categories.contains("Pipeline")) << "loading must not register";
}

TEST(CategoryFile, UnreadableOrInvalidFile_GivesEmptyMap) {
    EXPECT_TRUE(Category::loadCategories(lumora_test::homeDir() + "/absent.json").isEmpty());
    const QString broken = writeFile(QStringLiteral("broken.json"), R"({"categories": [ {"A": )");
    EXPECT_TRUE(Category::loadCategories(broken).isEmpty());
    const QString array = writeFile(QStringLiteral("array.json"), R"([{"categories": []}])");
    EXPECT_TRUE(Category::loadCategories(array).isEmpty());
}

TEST(CategoryFile, SharedBinaryRefusals_LogOnceAndStillReadCategories) {
    const int calls_before = labtest::registCalls();
    const auto missing = Category::loadCategories(
        writeFile(QStringLiteral("missing.json"), pluginFile("/nonexistent/libnothing.so")));
    const auto empty = Category::loadCategories(
        writeFile(QStringLiteral("empty.json"), pluginFile(LUMORA_TEST_EMPTY_PLUGIN_PATH)));
    EXPECT_EQ(labtest::registCalls(), calls_before);
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
    registerPluginClasses();
    const auto categories = Category::loadCategories(
        writeFile(QStringLiteral("load.json"), pluginFile(LUMORA_TEST_PLUGIN_PATH)));
    Category::Instance instance;
    instance.load(*categories.value(QStringLiteral("Pipeline")), QStringLiteral("main"));
    // Reader0 and Reader1 name the same class, so the key class + name holds one functor.
    EXPECT_EQ(instance.functors().keys(),
              (QStringList{"labtest::Readermain", "labtest::Writermain"}));
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
