#pragma once

// Sizes, angles and colour factors of the lattice drawing. They are plain
// mutable integers rather than compile-time constants: the tweak dialog
// writes them at run time and the scene is rebuilt from the new values.
// Angles are degrees counter-clockwise from the positive x axis; lengths are
// scene units; factors are percentages as taken by QColor::darker/lighter.
namespace ArborConstants
{
extern int ANGLE_2_PLUS;
extern int ANGLE_3_PLUS;
extern int ANGLE_FRONT_OFFSET;
extern int ANGLE_FRONT_ROTATE_OFFSET;
extern int STRUT_2_LENGTH;
extern int STRUT_3_LENGTH;
extern int STRUT_WIDTH;
extern int LINK_WIDTH;
extern int LEAVES_PLUS_OFFSET_X;
extern int LEAVES_PLUS_OFFSET_Y;
extern int GRAPE_LEAVES_WIDTH;
extern int GRAPE_LEAVES_HEIGHT;
extern int BALL_DIAMETER;
extern int LEAF_DIAMETER;
extern int LEAVES_RADIUS;
extern int LEAVES_START_ANGLE;
extern int BALL_DIM_FACTOR;
extern int BALL_BRIGHTEN_FACTOR;
extern int OUTLINE_BRIGHTEN_FACTOR;
extern int BALL_GLOW_SIZE_FACTOR;
extern int GLOW_ALPHA_START;
extern int PRIME_DISABLED_DIM_FACTOR;

// Puts every value above back to its built-in default.
void resetLayoutConstants();
}
