#include "COpenGLWidget.h"

#include "DebugTrace.h"
#include "EngineInfo.h"
#include "GraphicsTests.h"
#include "Results.h"
#include "Run.h"
#include "Startup.h"
#include "TestSlots.h"

#include <QCloseEvent>
#include <QIcon>
#include <QSurfaceFormat>

#include <GL/glu.h>

GLubyte COpenGLWidget::checkImage[kNumTextures][kTexSize][kTexSize][4];

namespace {

constexpr int kLogTest3D = 13; // "3D Graphics" in the event log's test names

void setMaterial(const GLfloat ambient[4], const GLfloat diffuse[4], const GLfloat specular[4], GLfloat shininess,
    const GLfloat emission[4])
{
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT, GL_SHININESS, shininess);
    glMaterialfv(GL_FRONT, GL_EMISSION, emission);
}

} // namespace

void COpenGLWidget::makeCheckImage()
{
    for (int i = 0; i < kTexSize; ++i) {
        for (int j = 0; j < kTexSize; ++j) {
            const GLubyte c = ((i & 8) == 0) != ((j & 8) == 0) ? 255 : 0;
            const GLubyte texels[kNumTextures][4]
                = { { 255, c, c, 255 }, { c, 255, c, 255 }, { c, c, 255, 255 }, { c, c, c, 255 } };
            for (int t = 0; t < kNumTextures; ++t)
                for (int k = 0; k < 4; ++k)
                    checkImage[t][i][j][k] = texels[t][k];
        }
    }
}

COpenGLWidget::COpenGLWidget(const Run& run, int slot, QWidget* parent)
    : QOpenGLWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_live(run.live<Graphics3DLive>(slot))
    , m_slot(slot)
    , m_newQuadric(gluNewQuadric)
{
    InitGraphicsResources();
    setObjectName("openGLWidget3D");
    setWindowTitle(SlotName(slot));
    setWindowIcon(QIcon(":/gfx/3d.png"));
    setFixedSize(kWidth, kHeight);

    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    // RGBA mode (no colour index): 8 bits a colour; no alpha, or the clear
    // colour's alpha 0 would make the window see-through.
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(24);
    setFormat(format);
    m_repaint->attach(this);
    m_live.repaint.publish(m_repaint);
}

COpenGLWidget::~COpenGLWidget()
{
    m_repaint->detach(this);
    m_live.repaint.withdraw(m_repaint.get());
    if (texName && context()) {
        makeCurrent();
        glDeleteTextures(1, &texName);
        doneCurrent();
    }
}

void COpenGLWidget::setQuadricMaker(QuadricMaker maker)
{
    m_newQuadric = maker ? maker : gluNewQuadric;
}

void COpenGLWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void COpenGLWidget::traceMissingFeatures()
{
    // Only the context says what was obtained, so this waits for it.
    const QSurfaceFormat got = format();
    if (got.swapBehavior() == QSurfaceFormat::SingleBuffer)
        DPrintf("%s[%d]: Double buffering not supported\n", "COpenGLWidget", __LINE__);
    if (got.redBufferSize() == 0 || got.greenBufferSize() == 0 || got.blueBufferSize() == 0)
        DPrintf("%s[%d]: RGBA colour mode not supported\n", "COpenGLWidget", __LINE__);
    if (got.depthBufferSize() == 0)
        DPrintf("%s[%d]: Depth buffering not supported\n", "COpenGLWidget", __LINE__);
}

void COpenGLWidget::initializeGL()
{
    traceMissingFeatures();
    init();
    initTextureMapping();
    initViewport(kWidth, kHeight);
    initLightCondition();
}

void COpenGLWidget::init()
{
    glClearColor(0.0f, 0.1f, 0.1f, 0.0f);
    glShadeModel(GL_FLAT);
    glClearDepth(1.0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
}

void COpenGLWidget::initTextureMapping()
{
    makeCheckImage();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, &texName);
    glBindTexture(GL_TEXTURE_2D, texName);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

void COpenGLWidget::initLightCondition()
{
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 0);
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glEnable(GL_LIGHT0);
}

void COpenGLWidget::initViewport(int w, int h)
{
    if (w == 0)
        w = 1;
    if (h == 0)
        h = 1;
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<GLdouble>(w) / h, 1.0, 20.0);
    glMatrixMode(GL_MODELVIEW);
}

void COpenGLWidget::resizeGL(int w, int h)
{
    initViewport(w, h);
}

void COpenGLWidget::paintGL()
{
    // Cleared first, so a request made during this frame queues the next.
    m_repaint->painted();
    animate();
}

void COpenGLWidget::animate()
{
    const GLfloat a = static_cast<GLfloat>(m_live.hourOfDay.load(std::memory_order_relaxed));
    const GLfloat z = static_cast<GLfloat>(m_live.zDisplacement.load(std::memory_order_relaxed));

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPushMatrix();
    glRotatef(static_cast<GLfloat>(m_live.lightPositionAngle.load(std::memory_order_relaxed)), 0.0f, 0.0f, 1.0f);
    const GLfloat lightPosition[] = { 3.0f, 3.0f, 3.0f, 0.0f }; // directional
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    glPopMatrix();

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    GLUquadric* quadric = m_newQuadric();
    if (!quadric) {
        // Out of memory for GLU: no scene and no frame to count. Said once
        // until a quadric can be made again, not at every frame.
        if (!m_quadricMissing)
            RecordError(resultfile, gLogger, m_slot, kGraphics3DErrorNoOpenGL, kLogTest3D);
        m_quadricMissing = true;
        return;
    }
    m_quadricMissing = false;

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -10.0f);
    glRotatef(10.0f, 1.0f, 0.0f, 0.0f);
    glPushMatrix();

    const GLfloat centreColour[] = { 0.7f, 0.5f, 0.2f, 0.5f };
    const GLfloat centreEmission[] = { 0.3f, 0.2f, 0.2f, 0.0f };
    setMaterial(centreColour, centreColour, centreColour, 50.0f, centreEmission);
    gluSphere(quadric, 1.0, 32, 32);

    glEnable(GL_TEXTURE_2D);
    // Bound again each frame: the context is Qt's between frames too.
    glBindTexture(GL_TEXTURE_2D, texName);
    const GLfloat ambient[] = { 0.8f, 0.8f, 0.2f, 1.0f };
    const GLfloat diffuse[] = { 0.1f, 0.5f, 0.8f, 1.0f };
    const GLfloat specular[] = { 1.0f, 1.0f, 1.0f, 1.0f };
    const GLfloat noEmission[] = { 0.0f, 0.0f, 0.0f, 0.0f };
    setMaterial(ambient, diffuse, specular, 5.0f, noEmission);
    gluQuadricTexture(quadric, GL_TRUE);

    auto texturedSphere = [&](int texture, auto&& place) {
        glPushMatrix();
        place();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kTexSize, kTexSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, checkImage[texture]);
        gluSphere(quadric, 1.0, 32, 32);
        glPopMatrix();
    };
    texturedSphere(0, [&] { // left
        glTranslatef(-3.0f, 0.0f, 0.0f);
        glTranslatef(-0.3f * z / 50.0f, 0.0f, -3.0f * z / 50.0f);
        glRotatef(a, 0.0f, 1.0f, 0.0f);
    });
    texturedSphere(1, [&] { // right
        glTranslatef(3.0f, 0.0f, 0.0f);
        glTranslatef(-0.3f * z / 50.0f, 0.0f, 3.0f * z / 50.0f);
        glRotatef(a, 1.0f, 0.0f, 0.0f);
    });
    texturedSphere(2, [&] { // upper
        glRotatef(a, 1.0f, 0.0f, 0.0f);
        glTranslatef(0.0f, 2.5f, 0.0f);
    });
    texturedSphere(3, [&] { // lower
        glRotatef(a, 1.0f, 0.0f, 0.0f);
        glTranslatef(0.0f, -2.5f, 0.0f);
        glRotatef(a, 0.0f, 0.0f, 1.0f);
    });

    glDisable(GL_TEXTURE_2D);
    glPopMatrix();
    glFlush();
    gluDeleteQuadric(quadric);

    m_live.renderCount.fetch_add(1, std::memory_order_relaxed);
    AddOperations(resultfile, m_slot, kOpsPerFrame);
}
